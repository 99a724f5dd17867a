// Noise soak: many whole updates of random images against a phone that asks
// for blocks again at random, delays its replies at random (always inside the
// limits) on a line paced at a random speed. Every update must leave a flash
// identical to its image; a failure must name its step.
//
// Seeded: the seed is printed, and FLASHTOOL_SOAK_SEED replays a run;
// FLASHTOOL_SOAK_COUNT sets the number of updates (default 200). scripts/soak
// runs a long one.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>

#include "tests/reliability/update_rig.h"

namespace {

std::uint64_t Env_Number(const char* name, std::uint64_t fallback) {
    const char* text = std::getenv(name);
    if (text == nullptr || *text == '\0')
        return fallback;
    return std::strtoull(text, nullptr, 0);
}

// Region sizes from one byte to a few hundred KiB, with the block edges that
// matter more often than chance would give them. (An image file cannot hold an
// empty region: its end would lie below its start, which the loader refuses.)
std::uint32_t Random_Region_Size(std::mt19937_64& random) {
    switch (random() % 8) {
        case 0:
            return 1;
        case 1:
            return static_cast<std::uint32_t>(kPhoneModel.block_size * (1 + random() % 8));
        case 2:
            return static_cast<std::uint32_t>(kPhoneModel.block_size * (1 + random() % 8) + 1);
        case 3:
            return static_cast<std::uint32_t>(1 + random() % 64);
        default:
            return static_cast<std::uint32_t>(random() % (320 * 1024));
    }
}

bool Names_Failed_Step(const Recording_View& view) {
    for (const std::string& line : view.memo) {
        if (line.find("failed,error is ") != std::string::npos || line == text::kNotFoundEn)
            return true;
    }
    return false;
}

TEST(Noise_Soak, EveryUpdateLeavesTheImageInFlash) {
    const std::uint64_t seed = Env_Number("FLASHTOOL_SOAK_SEED", std::random_device{}());
    const std::uint64_t count = Env_Number("FLASHTOOL_SOAK_COUNT", 200);
    std::printf("noise soak: seed %llu, %llu updates (FLASHTOOL_SOAK_SEED=%llu to replay)\n",
                static_cast<unsigned long long>(seed), static_cast<unsigned long long>(count),
                static_cast<unsigned long long>(seed));
    std::mt19937_64 random(seed);

    std::uint64_t updated = 0, failed = 0, bytes_compared = 0, first_runs = 0;
    for (std::uint64_t run = 0; run < count; ++run) {
        SCOPED_TRACE("update " + std::to_string(run) + " of seed " + std::to_string(seed));
        const std::uint32_t first_size = Random_Region_Size(random);
        const std::uint32_t second_size = Random_Region_Size(random);
        const std::uint32_t first_start = static_cast<std::uint32_t>(random() % 0x01000000);
        const std::uint32_t second_start =
            static_cast<std::uint32_t>(0x01000000 + random() % 0x7F000000);
        const auto image = reliability::Matching_Image(
            first_start,
            test_support::Random_Bytes(first_size, static_cast<std::uint32_t>(random())),
            second_start,
            test_support::Random_Bytes(second_size, static_cast<std::uint32_t>(random())));

        vphone::Phone_Config config = vphone::Default_Config();
        config.seed = random();
        config.random_ask_again = static_cast<double>(random() % 30) / 100.0;
        // The tightest limit is the 100 ms of the handshake's check reply.
        config.random_delay_ms = static_cast<std::uint32_t>(random() % 90);
        // Half the phones already hold the image's record: no dump then.
        const bool first_run = random() % 2 == 0;
        if (!first_run) {
            std::copy(image.version_text.begin(), image.version_text.end(), config.record.begin());
            std::fill(
                config.record.begin() + static_cast<std::ptrdiff_t>(image.version_text.size()),
                config.record.end(), 0);
        }
        config.dump_block_size = static_cast<std::uint32_t>(512 << (random() % 3));
        config.dump_blocks =
            static_cast<std::uint32_t>(4096 / config.dump_block_size + random() % 4);
        const std::uint32_t bauds[] = {0, 115200, 921600};

        reliability::Update_Rig rig(config, image);
        rig.line.set_baud(bauds[random() % 3]);
        rig.view.language = static_cast<Language>(random() % 2);
        const Download_Outcome outcome = rig.command.Run();

        EXPECT_TRUE(rig.view.Idle());
        EXPECT_TRUE(rig.line.every_read_within_limit());
        if (outcome == Download_Outcome::kUpdated) {
            ++updated;
            bytes_compared += first_size + second_size;
            EXPECT_TRUE(rig.Flash_Matches_Image(true));
            EXPECT_FALSE(rig.line.is_open());
        } else {
            ++failed;
            EXPECT_TRUE(Names_Failed_Step(rig.view)) << rig.view.Memo_Text();
            EXPECT_TRUE(rig.Flash_Matches_Image(false));
        }
        // Disturbances inside the limits never make a sound host fail.
        EXPECT_EQ(static_cast<int>(outcome), static_cast<int>(Download_Outcome::kUpdated))
            << rig.view.Memo_Text();
        first_runs += first_run ? 1 : 0;
        if (testing::Test::HasFailure())
            break;  // the trace above names the update to replay
    }
    std::printf("noise soak: %llu updated, %llu failed, %llu first runs, %llu bytes compared\n",
                static_cast<unsigned long long>(updated), static_cast<unsigned long long>(failed),
                static_cast<unsigned long long>(first_runs),
                static_cast<unsigned long long>(bytes_compared));
}

}  // namespace
