#include "tools/make-diary/DiaryDamage.h"

#include "JetTestSupport.h"

#include <algorithm>
#include <gtest/gtest.h>

namespace zurodid::jettest {
namespace {

namespace damage = fixture::damage;

std::vector<std::uint8_t> BaseBytes() {
    TempFolder folder;
    auto diary = fixture::StandardDiary();
    for (int i = 0; i < 300; ++i) {
        diary.tables[1].rows.push_back(
            {At(2026, 1, 1) + std::chrono::minutes(i * 97), "นัดหมาย " + std::to_string(i)});
    }
    WriteJet3(diary, folder / "Zurodid.mdb");
    return ReadBytes(folder / "Zurodid.mdb");
}

std::vector<std::uint8_t> PageOf(const std::vector<std::uint8_t>& file, std::size_t page,
                                 std::size_t size) {
    const auto start = file.begin() + static_cast<long>(page * size);
    return {start, start + static_cast<long>(size)};
}

// Pages (by number) in which `damaged` differs from `base`; both of the same size.
std::vector<std::size_t> ChangedPages(const std::vector<std::uint8_t>& base,
                                      const std::vector<std::uint8_t>& damaged, std::size_t size) {
    std::vector<std::size_t> pages;
    for (std::size_t page = 0; page < base.size() / size; ++page) {
        if (PageOf(base, page, size) != PageOf(damaged, page, size)) {
            pages.push_back(page);
        }
    }
    return pages;
}

TEST(DiaryDamage, EachKindDamagesWhatItNamesAndTheSameSeedGivesTheSameBytes) {
    const auto base = BaseBytes();
    const std::size_t page = damage::PageSizeOf(base);
    ASSERT_EQ(page, 2048u);
    const std::size_t pages = base.size() / page;
    ASSERT_GT(pages, 4u);
    auto typeOf = [&](std::size_t number) { return base[number * page]; };
    for (const auto kind : damage::kAllKinds) {
        int changed = 0;
        for (std::uint64_t seed = 1; seed <= 60; ++seed) {
            std::mt19937_64 first(seed);
            std::mt19937_64 second(seed);
            const auto damaged = damage::Damage(base, kind, first);
            ASSERT_EQ(damaged, damage::Damage(base, kind, second)) << damage::NameOf(kind);
            changed += damaged != base ? 1 : 0;
            const std::string what =
                std::string(damage::NameOf(kind)) + ", seed " + std::to_string(seed);
            if (kind == damage::Kind::TruncatedAtPage || kind == damage::Kind::TruncatedMidPage) {
                ASSERT_LT(damaged.size(), base.size()) << what;
                EXPECT_EQ(damaged.size() % page == 0, kind == damage::Kind::TruncatedAtPage)
                    << what;
                EXPECT_TRUE(std::equal(damaged.begin(), damaged.end(), base.begin())) << what;
                continue;
            }
            ASSERT_EQ(damaged.size(), base.size()) << what;
            const auto touched = ChangedPages(base, damaged, page);
            switch (kind) {
            case damage::Kind::HeaderPage:
                EXPECT_TRUE(touched.empty() || touched == std::vector<std::size_t>{0}) << what;
                break;
            case damage::Kind::TableDefinitionPage:
            case damage::Kind::DataPage: {
                const std::uint8_t type = kind == damage::Kind::DataPage ? 0x01 : 0x02;
                EXPECT_LE(touched.size(), 1u) << what;
                for (const auto number : touched) {
                    EXPECT_NE(number, 0u) << what;
                    EXPECT_EQ(typeOf(number), type) << what;
                }
                break;
            }
            case damage::Kind::PagesSwapped:
            case damage::Kind::PageDuplicated:
                // Whole pages moved: every page of the result is a page of the original.
                for (const auto number : touched) {
                    bool found = false;
                    for (std::size_t other = 0; other < pages && !found; ++other) {
                        found = PageOf(damaged, number, page) == PageOf(base, other, page);
                    }
                    EXPECT_TRUE(found) << what << ": page " << number;
                }
                break;
            default:
                break;
            }
        }
        // A kind that never damages anything would make the large run prove nothing.
        EXPECT_GT(changed, 40) << damage::NameOf(kind);
    }
}

TEST(DiaryDamage, PageSizeFollowsTheVersionByte) {
    std::vector<std::uint8_t> header(4096, 0);
    EXPECT_EQ(damage::PageSizeOf(header), 2048u); // Jet 3
    header[0x14] = 1;
    EXPECT_EQ(damage::PageSizeOf(header), 4096u); // Jet 4
}

} // namespace
} // namespace zurodid::jettest
