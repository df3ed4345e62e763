#include "agent/frmAgent.h"

#include "platform/Log.h"
#include "platform/Numbers.h"
#include "platform/RuntimeError.h"

#include <cmath>

namespace zurodid {
namespace {

constexpr std::string_view kMainProgramName = "Zurodid.exe";
// The agent window has no platform handle here: the desktop layer knows it by these ids.
constexpr std::uint32_t kAgentWindowHandle = 1;
constexpr std::uint32_t kAgentIconHandle = 1;

// Start-up steps, each one unit for the retry after a log-in: the record, the registration,
// one step per settings key, then the password, the open sequence, the list, the window, the
// cursors and the timer.
enum StartUpStep : int {
    FillTrayRecord,
    RegisterIcon,
    ReadFirstKey,
    ClearPassword = ReadFirstKey + static_cast<int>(kSettingKeys.size()),
    CreateWorkspace,
    OpenDatabase,
    OpenAnniversary,
    OpenAppointment,
    FillList,
    ShowListWindow,
    ResetAlarmCursor,
    ResetRemindCursor,
    EnableTimer,
    StepCount
};

void RaiseIfMissing(const void* object) {
    if (!object)
        throw RuntimeError(ErrorNumber::ObjectNotSet, "Object variable not set");
}

} // namespace

void frmAgent::Form_Load() {
    int step = FillTrayRecord;
    while (step < StepCount) {
        try {
            for (; step < StepCount; ++step)
                RunStartUpStep(step);
        } catch (const RuntimeError& error) {
            if (error.Number() != ErrorNumber::NotValidPassword) {
                LogStepFailure(step, "start-up stopped", error.Number(), error.what());
                return;
            }
            // The log-in dialog sets the password (or the user ends the agent); then the same
            // step, the open, runs again.
            desktop_.Show(WindowName::frmLogIn, ShowMode::Modal);
        } catch (const std::exception& error) {
            LogStepFailure(step, "start-up stopped", 0, error.what());
            return;
        }
    }
}

void frmAgent::LogStepFailure(int step, std::string_view consequence, int errorNumber,
                              std::string_view errorText) {
    std::string doing;
    std::filesystem::path file = state_.AgentFolder() / kDiaryFileName;
    switch (step) {
    case FillTrayRecord:
    case RegisterIcon:
        doing = "registering the tray icon";
        file.clear();
        break;
    case CreateWorkspace:
        doing = "creating the workspace";
        break;
    case OpenDatabase:
        doing = "opening the diary";
        break;
    case OpenAnniversary:
        doing = "opening the table Anniversary";
        break;
    case OpenAppointment:
        doing = "opening the table Appointment";
        break;
    default:
        if (step >= ReadFirstKey && step < ClearPassword) {
            doing = "reading the setting " +
                    std::string(kSettingKeys[static_cast<std::size_t>(step - ReadFirstKey)].name);
            file = state_.module1.SettingsPath();
        } else {
            doing = "step " + std::to_string(step);
            file.clear();
        }
        break;
    }
    LogFailure(doing + ", " + std::string(consequence), errorNumber, errorText, file);
}

// One step of the open sequence into `store`, each member replaced only once its new object
// is there.
void frmAgent::RunOpenStep(int step, DiaryStore& store) {
    switch (step) {
    case CreateWorkspace:
        RaiseIfMissing(state_.DBEngine.get());
        store.wsDiary = state_.DBEngine->CreateWorkspace("Zurodid", "Admin", "");
        return;
    case OpenDatabase:
        RaiseIfMissing(store.wsDiary.get());
        store.dbDiary = store.wsDiary->OpenDatabase(state_.AgentFolder() / kDiaryFileName, false,
                                                    false, ";PWD=" + state_.DatabasePassword);
        return;
    case OpenAnniversary:
        RaiseIfMissing(store.dbDiary.get());
        store.rsAnniversary = store.dbDiary->OpenRecordset("Anniversary", dbOpenDynaset);
        return;
    case OpenAppointment:
        RaiseIfMissing(store.dbDiary.get());
        store.rsAppointment = store.dbDiary->OpenRecordset("Appointment", dbOpenDynaset);
        return;
    default:
        return;
    }
}

void frmAgent::RebuildForNewDay() {
    // The open sequence with the password already given, all or nothing: a diary that cannot
    // be opened now leaves the previous objects, and the list is refilled from them.
    DiaryStore reopened;
    int step = CreateWorkspace;
    try {
        for (; step <= OpenAppointment; ++step)
            RunOpenStep(step, reopened);
        state_.DiaryStore = std::move(reopened);
    } catch (const RuntimeError& error) {
        LogStepFailure(step, "the new day's list refilled from the diary opened before",
                       error.Number(), error.what());
    } catch (const std::exception& error) {
        LogStepFailure(step, "the new day's list refilled from the diary opened before", 0,
                       error.what());
    }
    lvAppointment.ListItems.Clear();
    lastFillDay_ = std::chrono::floor<std::chrono::days>(clock_.Now());
    ShowAll();
    AlarmCursor = 1;
    RemindCursor = 1;
}

void frmAgent::RunStartUpStep(int step) {
    DiaryStore& store = state_.DiaryStore;
    switch (step) {
    case FillTrayRecord: {
        TrayIconRecord.cbSize = static_cast<std::uint32_t>(sizeof(TrayIconRecordA));
        TrayIconRecord.hwnd = kAgentWindowHandle;
        TrayIconRecord.uID = 1;
        TrayIconRecord.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
        TrayIconRecord.uCallbackMessage = WM_MOUSEMOVE;
        TrayIconRecord.hIcon = kAgentIconHandle;
        constexpr std::u16string_view tip = u"Zurodid Agent";
        TrayIconRecord.szTip.fill(u' ');
        std::copy(tip.begin(), tip.end(), TrayIconRecord.szTip.begin());
        TrayIconRecord.szTip[tip.size()] = u'\0';
        return;
    }
    case RegisterIcon: {
        TrayIconRecordA singleByte = SingleByteForm(TrayIconRecord);
        desktop_.RegisterTrayIcon(singleByte);
        TrayIconRecord = WideForm(singleByte);
        return;
    }
    case ClearPassword:
        state_.DatabasePassword.clear();
        return;
    case CreateWorkspace:
    case OpenDatabase:
    case OpenAnniversary:
    case OpenAppointment:
        RunOpenStep(step, store);
        return;
    case FillList:
        lastFillDay_ = std::chrono::floor<std::chrono::days>(clock_.Now());
        ShowAll();
        return;
    case ShowListWindow:
        if (state_.AgentSettings.StartUpRemind == 1)
            desktop_.Show(WindowName::frmList, ShowMode::Modeless);
        return;
    case ResetAlarmCursor:
        AlarmCursor = 1;
        return;
    case ResetRemindCursor:
        RemindCursor = 1;
        return;
    case EnableTimer:
        desktop_.EnableTimer();
        return;
    default: {
        const SettingKey& key = kSettingKeys[static_cast<std::size_t>(step - ReadFirstKey)];
        state_.AgentSettings.*key.member = ReadSetting(state_.module1, key.name);
        return;
    }
    }
}

void frmAgent::ShowAll() {
    // Any failure ends the fill quietly for the user; the rows added so far stay.
    FillError error;
    if (FillAgentAppointments(state_.DiaryStore.rsAppointment.get(),
                              state_.AgentSettings.AppointmentStartUp, clock_.Now(), lvAppointment,
                              members_, &error) != FillEnd::Complete)
        LogFailure("filling the agent's list, ended with the rows read so far", error.number,
                   error.text, state_.AgentFolder() / kDiaryFileName);
}

int frmAgent::MinutesToGo(DateTime now, DateTime rowTime) {
    auto nowMinutes = std::chrono::duration_cast<std::chrono::minutes>(TimeOfDay(now)).count();
    auto rowMinutes = std::chrono::duration_cast<std::chrono::minutes>(TimeOfDay(rowTime)).count();
    return static_cast<int>(rowMinutes - nowMinutes);
}

void frmAgent::RemindHalf(std::int32_t& cursor, int lead, int iconFlags, DateTime now) {
    ListItemCollection& rows = lvAppointment.ListItems;
    if (rows.Count() < cursor)
        return;
    const ListItem& row = rows.Item(cursor);
    auto rowMinutes = MinutesOfTimeText(row.SubItems(2));
    // A row of another day is passed over like a row whose minute has gone: comparing the time
    // of day alone would remind tomorrow's appointment today, and never on its own day.
    if (!rowMinutes || row.SubItems(1) != FormatDateTime(now, "dd/mm/yyyy")) {
        ++cursor;
        return;
    }
    AlarmTime = DateTime{std::chrono::minutes{*rowMinutes}};
    // One reading decides both: a minute that turns between two readings would lose the row.
    int minutesToGo = MinutesToGo(now, AlarmTime);
    if (minutesToGo < lead) {
        ++cursor;
        return;
    }
    if (minutesToGo == lead) {
        desktop_.MsgBox(row.SubItems(2) + " : " + row.SubItems(3), iconFlags, kAgentTitle);
        ++cursor;
    }
}

void frmAgent::Timer1_Timer() {
    // A tick that comes while this tick's box is open would find the same row again.
    if (tickRunning_)
        return;
    tickRunning_ = true;
    struct Done {
        bool& flag;
        ~Done() { flag = false; }
    } done{tickRunning_};

    DateTime now = clock_.Now();
    // A new day (midnight passed, or a resume from sleep) brings a new day's list.
    if (lastFillDay_ && std::chrono::floor<std::chrono::days>(now) != *lastFillDay_) {
        RebuildForNewDay();
        now = clock_.Now();
    }
    RemindHalf(AlarmCursor, 0, vbCritical, now);
    // Read again: the on-time box may have been open for minutes.
    if (state_.AgentSettings.Remind == 1)
        RemindHalf(RemindCursor, state_.AgentSettings.AppointmentRemind, vbInformation,
                   clock_.Now());
}

void frmAgent::Form_MouseMove(int /*button*/, int /*shift*/, float x, float /*y*/) {
    double message = std::nearbyint(static_cast<double>(x) / desktop_.TwipsPerPixelX());
    if (message == kLeftButtonUp)
        desktop_.Show(WindowName::frmList, ShowMode::Modeless);
    else if (message == kRightButtonUp)
        desktop_.PopupMenu();
}

void frmAgent::mnusubpopup_Click(std::int16_t index) {
    switch (static_cast<PopupItem>(index)) {
    case PopupItem::Show:
        desktop_.Show(WindowName::frmList, ShowMode::Modeless);
        return;
    case PopupItem::Refresh:
        lvAppointment.ListItems.Clear();
        members_.CurrentItem = nullptr; // its row went with the clear
        Form_Load();
        return;
    case PopupItem::Options:
        desktop_.Show(WindowName::frmOption, ShowMode::Modeless);
        return;
    case PopupItem::About:
        desktop_.Show(WindowName::frmAbout, ShowMode::Modal);
        return;
    case PopupItem::RunZurodid: {
        std::filesystem::path program = state_.AgentFolder() / kMainProgramName;
        StartOutcome outcome = desktop_.StartProgram(program, {});
        if (!outcome.started) {
            LogFailure("starting the main program", outcome.errorNumber, outcome.error, program);
            desktop_.MsgBox("Could not start " + program.string() + ": " + outcome.error,
                            vbCritical, kAgentTitle);
        }
        return;
    }
    case PopupItem::Exit:
        desktop_.EndProcess();
        return;
    case PopupItem::SeparatorBeforeRun:
    case PopupItem::SeparatorBeforeExit:
        return;
    }
    // An index outside the menu does nothing.
}

} // namespace zurodid
