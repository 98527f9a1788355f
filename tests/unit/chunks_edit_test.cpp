// Edits of files written by this library's writer: the frames and audio read
// back unchanged, the getters return what was set, and the file stays well
// formed, after each setter and after long random sequences of them.
#include <map>
#include <random>

#include "unit/chunks_fixture.h"
#include "unit/writer_fixture.h"

namespace vxtest {
namespace {

class ChunkEdit : public WriterTest {
protected:
    // Ten interleaved records of one frame and some audio.
    void write_file() {
        open(AVIF_ISINTERLEAVED, 10);
        add_video();
        add_audio();
        for (uint32_t i = 0; i < 10; ++i) {
            frames_.push_back(payload(0, i, 500 + 37 * i));
            const Bytes a = payload(1, i, 1920);
            audio_.insert(audio_.end(), a.begin(), a.end());
            ASSERT_EQ(write(0, frames_.back()), 0);
            ASSERT_EQ(write(1, a, kWb), 0);
            ASSERT_EQ(avifileEndRecord(writer_), 0);
        }
        ASSERT_EQ(close(10, static_cast<uint32_t>(audio_.size() / 4)), 0);
    }
    void expect_intact() {
        close_reader();
        EXPECT_EQ(check_well_formed(file_bytes()), "");
        expect_contents(frames_, {}, audio_);
        close_reader();
    }

    std::vector<Bytes> frames_;
    Bytes audio_;
};

TEST_F(ChunkEdit, NewListsGoIntoTheWritersFiller) {
    write_file();
    const std::size_t length = file_bytes().size();
    {
        Opened h(path_);
        const AviTimeData t = time_data("10:00:00:00", "10:00:00;00", "Reel A", "Reel B", "note");
        ASSERT_EQ(vfwAddTimeData(h, &t), 0);
        ASSERT_EQ(vfwSetPullUpData(h, 2, 3), 0);
        ASSERT_EQ(vfwSetAspectData(h, 40, 33), 0);
    }
    EXPECT_EQ(file_bytes().size(), length);
    expect_intact();
}

// Random sequences of every setter against a model of what the getters must
// return.
TEST_F(ChunkEdit, RandomSequencesOfSettersAgreeWithAModel) {
    write_file();
    const Bytes original = file_bytes();
    for (uint32_t seed = 1; seed <= 4; ++seed) {
        {
            HANDLE raw = open_file(path_, Access::kCreate);
            ASSERT_TRUE(write_all(raw, original.data(), original.size(), 0));
            close_file(raw);
        }
        std::mt19937 rng(seed);
        auto pick = [&](uint32_t n) { return static_cast<uint32_t>(rng() % n); };
        auto word = [&](uint32_t maxLength) {
            std::string s(pick(maxLength + 1), 'a');
            for (char& c : s) c = static_cast<char>('A' + pick(26));
            return s;
        };
        AviTimeData model{};
        bool haveTimes = false, havePullUp = false, haveAspect = false;
        int32_t pull[2] = {}, aspect[2] = {};
        std::map<uint32_t, Bytes> meta;
        const uint32_t ids[] = {Fcc("Xm01"), Fcc("Xm02"), Fcc("ICMT"), Fcc("Xodd")};
        Opened h(path_);
        for (int step = 0; step < 60; ++step) {
            SCOPED_TRACE("seed " + std::to_string(seed) + " step " + std::to_string(step));
            switch (pick(4)) {
                case 0: {
                    const AviTimeData t =
                        time_data(word(20).c_str(), word(3).c_str(), word(45).c_str(),
                                  word(5).c_str(), word(300).c_str());
                    ASSERT_EQ(vfwAddTimeData(h, &t), 0);
                    if (!haveTimes || t.tc_O[0]) std::memcpy(model.tc_O, t.tc_O, 18);
                    if (!haveTimes || t.tc_A[0]) std::memcpy(model.tc_A, t.tc_A, 18);
                    std::memcpy(model.rn_O, t.rn_O, 40);
                    std::memcpy(model.rn_A, t.rn_A, 40);
                    std::memcpy(model.cmnt, t.cmnt, 256);
                    haveTimes = true;
                    break;
                }
                case 1:
                    pull[0] = static_cast<int32_t>(rng());
                    pull[1] = static_cast<int32_t>(rng());
                    ASSERT_EQ(vfwSetPullUpData(h, pull[0], pull[1]), 0);
                    havePullUp = true;
                    break;
                case 2:
                    aspect[0] = static_cast<int32_t>(rng());
                    aspect[1] = static_cast<int32_t>(pick(1000));
                    ASSERT_EQ(vfwSetAspectData(h, aspect[0], aspect[1]), 0);
                    haveAspect = true;
                    break;
                default: {
                    const uint32_t id = ids[pick(4)];
                    const Bytes data =
                        pattern(pick(3) == 0 ? pick(3000) : pick(41), static_cast<uint8_t>(rng()));
                    ASSERT_EQ(
                        vfwSetMetaData(h, id, data.data(), static_cast<uint32_t>(data.size())), 0);
                    meta[id] = data;
                    break;
                }
            }
            const TimeTexts got = get_texts(h);
            EXPECT_STREQ(got.tcO, model.tc_O);
            EXPECT_STREQ(got.tcA, model.tc_A);
            EXPECT_STREQ(got.rnO, model.rn_O);
            EXPECT_STREQ(got.rnA, model.rn_A);
            EXPECT_STREQ(got.cmnt, model.cmnt);
            int32_t a = 0, b = 0;
            EXPECT_EQ(vfwGetPullUpData(h, &a, &b), havePullUp ? 1 : 0);
            if (havePullUp) {
                EXPECT_EQ((std::pair{a, b}), (std::pair{pull[0], pull[1]}));
            }
            EXPECT_EQ(vfwGetAspectData(h, &a, &b), haveAspect ? 1 : 0);
            if (haveAspect) {
                EXPECT_EQ((std::pair{a, b}), (std::pair{aspect[0], aspect[1]}));
            }
            for (const auto& [id, data] : meta) {
                uint32_t size = 0;
                ASSERT_EQ(vfwGetMetaData(h, id, nullptr, &size), 0);
                ASSERT_EQ(size, data.size());
                Bytes got(size);
                if (size > 0) {
                    ASSERT_EQ(vfwGetMetaData(h, id, got.data(), &size), 0);
                }
                EXPECT_EQ(got, data);
            }
            ASSERT_EQ(check_well_formed(file_bytes()), "");
            if (step % 20 == 19) expect_intact();
        }
    }
}

}  // namespace
}  // namespace vxtest
