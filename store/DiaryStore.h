#pragma once

#include "store/Dao.h"

#include <memory>
#include <string_view>

namespace zurodid {

// The diary's file, beside the executable.
inline constexpr std::string_view kDiaryFileName = "Zurodid.mdb";

// The open diary: replaced member by member at every run of the agent's start-up, each member
// only after its new object was obtained.
struct DiaryStore {
    std::shared_ptr<Workspace> wsDiary;
    std::shared_ptr<Database> dbDiary;
    std::shared_ptr<Recordset> rsAnniversary;
    std::shared_ptr<Recordset> rsAppointment;
};

} // namespace zurodid
