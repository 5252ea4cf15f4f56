// Prepares a fuzzing directory: seeds/ with a few scripts (realistic Updates
// in the shapes the watch sends, framed as WriteScript.h describes) and an
// empty work/ for what the fuzzer finds, so the seeds stay as generated.
#include "link/fuzz/WriteScript.h"

#include "watch_output.pb.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

using namespace zt::fuzz;
using Script = std::vector<std::uint8_t>;

std::vector<std::uint8_t> bytes(const Update& update)
{
    const std::string s = update.SerializeAsString();
    return {s.begin(), s.end()};
}

void setVec(Vec3* v, float x, float y, float z)
{
    v->set_x(x);
    v->set_y(y);
    v->set_z(z);
}

Update motion(int frames, bool pinch, bool settings, int cursorActive)
{
    Update update;
    for (int i = 0; i < frames; ++i) {
        SensorFrame* f = update.add_sensorframes();
        setVec(f->mutable_gyro(), 0.1f * i, -0.2f, 0.3f);
        setVec(f->mutable_grav(), 0.5f, 6.9f, 6.9f);
        setVec(f->mutable_acc(), 0.01f, 0.02f, 0.03f);
        f->set_deltatime(10);
    }
    if (pinch)
        update.add_gestures()->set_type(PINCH_TAP);
    if (settings) {
        ZimtorvaInfo* info = update.mutable_mouseinfo();
        info->set_sensitivity(1.5f);
        info->set_smoothing(0.1f);
        info->set_cursoractive(static_cast<ZimtorvaInfo::ActiveState>(cursorActive));
        info->set_lefthanded(true);
    }
    update.set_deltatime(100);
    return update;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <output directory>\n", argv[0]);
        return 2;
    }
    const std::filesystem::path dir = std::filesystem::path(argv[1]) / "seeds";
    std::filesystem::create_directories(dir);
    std::filesystem::create_directories(std::filesystem::path(argv[1]) / "work");

    std::vector<Script> seeds(5);
    appendOp(seeds[0], opState, 5);
    appendWrite(seeds[0], bytes(motion(10, true, true, 2)));
    appendOp(seeds[0], opAdvance, 30);

    appendWrite(seeds[1], bytes(motion(3, false, true, 1)), 0);
    appendWrite(seeds[1], bytes(motion(3, true, true, 2)), writeOtherCharacteristic);
    appendWrite(seeds[1], {}, writeNoValue | (1 << writeCentralShift));
    appendWrite(seeds[1], {}, writeEndsBatch);
    appendOp(seeds[1], opAdvance, 255);

    appendOp(seeds[2], opRead, 7);
    appendWrite(seeds[2], {0x0a, 0x05, 0x01});
    appendOp(seeds[2], opPointer, 0x03);
    appendWrite(seeds[2], bytes(motion(2, true, false, 0)));
    appendOp(seeds[2], opAdvance, 2);

    appendWrite(seeds[3], bytes(motion(1, true, false, 0)));
    appendOp(seeds[3], opState, 4);
    appendOp(seeds[3], opAdvance, 1);
    appendWrite(seeds[3], bytes(motion(5, false, true, 3)));

    appendWrite(seeds[4], bytes(motion(0, true, false, 0)));
    appendWrite(seeds[4], bytes(motion(4, false, false, 0)), writeEndsBatch | (2 << writeCentralShift));

    for (std::size_t i = 0; i < seeds.size(); ++i) {
        std::ofstream out(dir / ("seed-" + std::to_string(i)), std::ios::binary);
        out.write(reinterpret_cast<const char*>(seeds[i].data()), static_cast<std::streamsize>(seeds[i].size()));
        if (!out)
            return 1;
    }
    return 0;
}
