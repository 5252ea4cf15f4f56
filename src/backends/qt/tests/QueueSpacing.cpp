// Hands the queue items 10 ms apart, the way the moves of one long Update
// are scheduled, and prints the gaps between the moments they ran and how
// late each ran. Usage: zt_qtloop_spacing [items]
#include "backends/qt/QtMainQueue.h"

#include <QCoreApplication>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

double percentile(std::vector<double> values, double p)
{
    std::sort(values.begin(), values.end());
    const auto index = static_cast<std::size_t>(p * static_cast<double>(values.size() - 1) + 0.5);
    return values[index];
}

void print(const char* what, const std::vector<double>& ms)
{
    std::printf("%-9s median %.3f ms  p99 %.3f ms  min %.3f ms  max %.3f ms\n", what, percentile(ms, 0.5),
                percentile(ms, 0.99), *std::min_element(ms.begin(), ms.end()),
                *std::max_element(ms.begin(), ms.end()));
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int count = argc > 1 ? std::max(2, std::atoi(argv[1])) : 1000;
    zt::QtMainQueue queue;
    std::vector<zt::MonoTime> deadlines;
    std::vector<zt::MonoTime> ranAt;
    deadlines.reserve(static_cast<std::size_t>(count));
    ranAt.reserve(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        const zt::MonoTime deadline = queue.now() + std::chrono::milliseconds(10) * i;
        deadlines.push_back(deadline);
        queue.asyncAfter(deadline, [&] {
            ranAt.push_back(queue.now());
            if (ranAt.size() == static_cast<std::size_t>(count))
                QCoreApplication::quit();
        });
    }
    QCoreApplication::exec();

    std::vector<double> gaps;
    std::vector<double> late;
    for (std::size_t i = 0; i < ranAt.size(); ++i) {
        late.push_back(std::chrono::duration<double, std::milli>(ranAt[i] - deadlines[i]).count());
        if (i > 0)
            gaps.push_back(std::chrono::duration<double, std::milli>(ranAt[i] - ranAt[i - 1]).count());
    }
    std::printf("%d items handed over 10 ms apart\n", count);
    print("gap", gaps);
    print("lateness", late);
    return 0;
}
