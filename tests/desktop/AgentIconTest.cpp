#include "windows/desktop/AgentIcon.h"

#include "support/TempFolder.h"

#include <QImage>
#include <QPixmap>
#include <filesystem>
#include <gtest/gtest.h>

namespace zurodid::testing {
namespace {

// Points the data folders at `folder` for as long as it lives.
class DataFolders {
public:
    explicit DataFolders(const std::filesystem::path& folder) : old_(qgetenv("XDG_DATA_DIRS")) {
        qputenv("XDG_DATA_HOME", QByteArray::fromStdString((folder / "home").string()));
        qputenv("XDG_DATA_DIRS", QByteArray::fromStdString(folder.string()));
    }
    ~DataFolders() {
        qunsetenv("XDG_DATA_HOME");
        qputenv("XDG_DATA_DIRS", old_);
    }

private:
    QByteArray old_;
};

TEST(AgentIcon, EachSizeIsDrawnFromTheNearestPictureNotSmallerAndTheNameIsGivenOnlyWhenInstalled) {
    TempFolder folder;
    DataFolders dataFolders(folder.Path());
    const QIcon plain = AgentIcon();
    EXPECT_EQ(plain.name(), QString());
    EXPECT_EQ(plain.availableSizes().size(), 8);

    const struct {
        int asked;
        int picture;
    } cases[] = {{16, 16}, {20, 22},   {22, 22},   {23, 24},
                 {33, 48}, {100, 128}, {256, 256}, {400, 256}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.asked);
        const QIcon picture(QStringLiteral(":/agent-icon/%1.png").arg(c.picture));
        ASSERT_FALSE(picture.isNull());
        const QImage got = plain.pixmap(c.asked).toImage();
        ASSERT_FALSE(got.isNull());
        EXPECT_EQ(got, picture.pixmap(c.asked).toImage());
    }

    const auto installed = folder / "icons/hicolor/256x256/apps/zurodid-agent.png";
    std::filesystem::create_directories(installed.parent_path());
    WriteBytes(installed, "png");
    EXPECT_EQ(AgentIcon().name(), QStringLiteral("zurodid-agent"));
}

} // namespace
} // namespace zurodid::testing
