#include "JetTestSupport.h"

#include <cstdlib>
#include <fstream>
#include <iterator>

namespace zurodid::jettest {

jet::ReaderOptions FastOptions() {
    jet::ReaderOptions options;
    options.limits.wallClock = std::chrono::milliseconds(2000);
    options.limits.cpuSeconds = 2;
    options.quietPeriod = std::chrono::milliseconds(5);
    options.settledAge = std::chrono::milliseconds(0); // a damaged file written now is damaged
    return options;
}

std::shared_ptr<Database> OpenDiary(const std::filesystem::path& file, const std::string& password,
                                    const jet::ReaderOptions& options) {
    auto engine = jet::MakeJetEngine(options);
    auto workspace = engine->CreateWorkspace("Zurodid", "Admin", "");
    return workspace->OpenDatabase(file, false, false, ";PWD=" + password);
}

std::vector<std::vector<Variant>> ReadAll(Recordset& recordset, int fields) {
    std::vector<std::vector<Variant>> rows;
    if (recordset.RecordCount() == 0) {
        return rows;
    }
    recordset.MoveFirst();
    while (!recordset.Eof()) {
        std::vector<Variant> row;
        for (int i = 0; i < fields; ++i) {
            row.push_back(recordset.Fields(static_cast<std::int16_t>(i)).Value());
        }
        rows.push_back(std::move(row));
        recordset.MoveNext();
    }
    return rows;
}

int ErrorNumberOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const RuntimeError& error) {
        return error.Number();
    }
    return 0;
}

DateTime At(int year, unsigned month, unsigned day, int hour, int minute, int second) {
    using namespace std::chrono;
    return DateTime(local_days(year_month_day(std::chrono::year(year), std::chrono::month(month),
                                              std::chrono::day(day)))) +
           hours(hour) + minutes(minute) + seconds(second);
}

std::vector<std::uint8_t> ReadBytes(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

void WriteBytes(const std::filesystem::path& file, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

std::filesystem::path SharedFolder() {
    if (const char* overridden = std::getenv("ZURODID_SHARED_DIR")) {
        return std::filesystem::exists(overridden) ? std::filesystem::path(overridden)
                                                   : std::filesystem::path();
    }
    const std::filesystem::path beside = ZURODID_SHARED_DEFAULT;
    return std::filesystem::exists(beside) ? beside : std::filesystem::path();
}

} // namespace zurodid::jettest
