#pragma once

#include "platform/RuntimeError.h"
#include "store/Dao.h"
#include "store/jet/JetEngine.h"
#include "support/TempFolder.h"
#include "tools/make-diary/DiaryWriter.h"

#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace zurodid::jettest {

using zurodid::testing::TempFolder;

// Short limits so that a hanging parse costs the suite little.
jet::ReaderOptions FastOptions();

std::shared_ptr<Database> OpenDiary(const std::filesystem::path& file,
                                    const std::string& password = "",
                                    const jet::ReaderOptions& options = FastOptions());

// Every row of the recordset from MoveFirst to EOF, each as its first `fields` values.
std::vector<std::vector<Variant>> ReadAll(Recordset& recordset, int fields);

// The error number `action` raised; 0 when it raised none.
int ErrorNumberOf(const std::function<void()>& action);

// Local date and time of day.
DateTime At(int year, unsigned month, unsigned day, int hour = 0, int minute = 0, int second = 0);

std::vector<std::uint8_t> ReadBytes(const std::filesystem::path& file);
void WriteBytes(const std::filesystem::path& file, const std::vector<std::uint8_t>& bytes);

// Where the shared, Access-written fixtures are: $ZURODID_SHARED_DIR, or ../shared beside the
// source tree. Empty when neither exists.
std::filesystem::path SharedFolder();

} // namespace zurodid::jettest
