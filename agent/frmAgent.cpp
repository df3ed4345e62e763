#include "agent/frmAgent.h"

#include "platform/Log.h"
#include "platform/Numbers.h"
#include "platform/RuntimeError.h"
#include "platform/Text.h"

#include <algorithm>
#include <cmath>
#include <system_error>
#include <utility>

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
    EnableTimer,
    StepCount
};

void RaiseIfMissing(const void* object) {
    if (!object)
        throw RuntimeError(ErrorNumber::ObjectNotSet, "Object variable not set");
}

// A failed read is tried again when the file, changed since, has held still for a tick (a save
// that ended: the desktop's watch on the folder brings the tick), else every two minutes (a
// drive mounted late): each try wakes the agent, and one wake-up a minute is its budget.
constexpr std::chrono::seconds kRetryInterval{120};

// What tells one state of the diary file from another, read without opening it; empty when
// there is no file.
std::string LookAtFile(const std::filesystem::path& file) {
    std::error_code error;
    const auto status = std::filesystem::status(file, error);
    if (error || !std::filesystem::exists(status))
        return {};
    std::string look = std::to_string(static_cast<int>(status.type()));
    if (std::filesystem::is_regular_file(status)) {
        look += ' ' + std::to_string(std::filesystem::file_size(file, error));
        look += ' ' + std::to_string(
                          std::filesystem::last_write_time(file, error).time_since_epoch().count());
    }
    return look;
}

} // namespace

void frmAgent::Form_Load() {
    // A tick meanwhile (the log-in dialog is open) must not rebuild the list under this load.
    const bool outerReading = reading_;
    reading_ = true;
    struct Done {
        bool& flag;
        bool value;
        ~Done() { flag = value; }
    } done{reading_, outerReading};
    loading_ = {};
    loadingRows_.ListItems.Clear();
    const ReadPurpose purpose = adopted_ ? ReadPurpose::Refresh : ReadPurpose::StartUp;
    int step = FillTrayRecord;
    // True when the load goes on: a diary that cannot be read leaves what was read before,
    // starts the timer all the same, and is read again on its own; the list window waits.
    auto diaryUnreadable = [&](int errorNumber, std::string_view errorText) {
        if (step < CreateWorkspace) {
            LogStepFailure(step, "start-up stopped", errorNumber, errorText);
            return false;
        }
        if (!retry_)
            LogStepFailure(step,
                           purpose == ReadPurpose::StartUp
                               ? "tried again when it changes"
                               : "the previous list kept, tried again when it changes",
                           errorNumber, errorText);
        ReadFailed(MinuteOf(clock_.Now()));
        loading_ = {};
        loadingRows_.ListItems.Clear();
        listWindowOwed_ = listWindowOwed_ || state_.AgentSettings.StartUpRemind == 1;
        step = EnableTimer;
        return true;
    };
    while (step < StepCount) {
        try {
            for (; step < StepCount; ++step)
                RunStartUpStep(step);
        } catch (const RuntimeError& error) {
            if (error.Number() == ErrorNumber::NotValidPassword) {
                // The log-in dialog sets the password (or the user ends the agent); then the
                // same step, the open, runs again.
                desktop_.Show(WindowName::frmLogIn, ShowMode::Modal);
                continue;
            }
            if (!diaryUnreadable(error.Number(), error.what()))
                return;
        } catch (const std::exception& error) {
            if (!diaryUnreadable(0, error.what()))
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
    case FillList:
        doing = "filling the agent's list";
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

FillEnd frmAgent::FillInto(ListView& rows, Recordset* appointments, FillError& error) {
    rows.ListItems.Clear();
    members_.CurrentItem = nullptr;
    return FillAgentAppointments(appointments, state_.AgentSettings.AppointmentStartUp,
                                 clock_.Now(), rows, members_, &error);
}

void frmAgent::Adopt(DiaryStore& store, ListView& rows, WallMinute floor) {
    if (store.wsDiary)
        state_.DiaryStore = std::move(store);
    store = {};
    const WallMinute now = MinuteOf(clock_.Now());
    reminders_.KeepOwed(now, state_.AgentSettings.AppointmentRemind);
    lvAppointment.ListItems.TakeRowsOf(rows.ListItems);
    members_.CurrentItem = nullptr; // its row is in another list now
    lastFillDay_ = std::chrono::floor<std::chrono::days>(clock_.Now());
    reminders_.Arm(lvAppointment.ListItems, floor, now);
    lastLook_ = now; // a fill is a look at the clock too
    adopted_ = true;
}

void frmAgent::ReadFailed(WallMinute floor) {
    // The book keeps the first failure's floor: what comes due meanwhile is owed.
    reminders_.ReadFailed(floor);
    const std::string look = LookAtFile(state_.AgentFolder() / kDiaryFileName);
    if (retry_) {
        retry_->lastTry = clock_.Now();
        retry_->lastLook = retry_->previousLook = look;
        retry_->settling = false;
        return;
    }
    retry_ = Retry{clock_.Now(), look, look, false};
    desktop_.WatchForChange(state_.AgentFolder() / kDiaryFileName);
}

void frmAgent::ReadSucceeded() {
    if (!retry_)
        return;
    retry_.reset();
    desktop_.WatchForChange(std::nullopt);
    LogRecovery("the diary was read again, the list and the reminders go on",
                state_.AgentFolder() / kDiaryFileName);
}

bool frmAgent::RetryIsDue(DateTime now) {
    const std::string look = LookAtFile(state_.AgentFolder() / kDiaryFileName);
    // Changed since the last try and still since the last tick: it rests.
    const bool rested = look != retry_->lastLook && look == retry_->previousLook;
    retry_->settling = look != retry_->previousLook;
    retry_->previousLook = look;
    const auto since = now - retry_->lastTry;
    return rested || since >= kRetryInterval || since < std::chrono::seconds{0};
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

void frmAgent::RunStartUpStep(int step) {
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
        RunOpenStep(step, loading_);
        return;
    case FillList: {
        // Filled aside: a read that fails keeps the list and objects read before, unless
        // there are none yet, when the rows read so far are better than nothing.
        FillError error;
        if (FillInto(loadingRows_, loading_.rsAppointment.get(), error) != FillEnd::Complete) {
            if (adopted_)
                throw RuntimeError(error.number, error.text);
            LogFailure("filling the agent's list, ended with the rows read so far", error.number,
                       error.text, state_.AgentFolder() / kDiaryFileName);
            Adopt(loading_, loadingRows_, MinuteOf(clock_.Now()));
            ReadFailed(MinuteOf(clock_.Now()));
            return;
        }
        Adopt(loading_, loadingRows_, MinuteOf(clock_.Now()));
        ReadSucceeded();
        return;
    }
    case ShowListWindow:
        listWindowOwed_ = false;
        if (state_.AgentSettings.StartUpRemind == 1)
            desktop_.Show(WindowName::frmList, ShowMode::Modeless);
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

bool frmAgent::ReadAgain(WallMinute floor) {
    DiaryStore store;
    ListView rows;
    int step = CreateWorkspace;
    for (;;) {
        try {
            for (; step <= OpenAppointment; ++step)
                RunOpenStep(step, store);
            FillError error;
            if (FillInto(rows, store.rsAppointment.get(), error) != FillEnd::Complete)
                return false;
            Adopt(store, rows, floor);
            return true;
        } catch (const RuntimeError& error) {
            // Asked only when the diary itself refuses the password.
            if (error.Number() != ErrorNumber::NotValidPassword)
                return false;
            desktop_.Show(WindowName::frmLogIn, ShowMode::Modal);
        } catch (const std::exception&) {
            return false;
        }
    }
}

void frmAgent::RebuildForNewDay(DateTime now) {
    // Reminders of the new day whose minute came since the last look are owed (a sleep across
    // midnight); the day is not asked for twice, whatever the read gives.
    const WallMinute floor = std::min(lastLook_.value_or(MinuteOf(now)), MinuteOf(now));
    lastFillDay_ = std::chrono::floor<std::chrono::days>(now);
    // The open sequence with the password already given, all or nothing: a diary that cannot
    // be opened now leaves the previous objects, and the list is refilled from them.
    DiaryStore reopened;
    int step = CreateWorkspace;
    std::optional<FillError> openError;
    try {
        for (; step <= OpenAppointment; ++step)
            RunOpenStep(step, reopened);
    } catch (const RuntimeError& error) {
        openError = FillError{error.Number(), error.what()};
    } catch (const std::exception& error) {
        openError = FillError{0, error.what()};
    }
    if (openError)
        reopened = {};
    ListView rows;
    FillError fillError;
    Recordset* appointments = reopened.rsAppointment ? reopened.rsAppointment.get()
                                                     : state_.DiaryStore.rsAppointment.get();
    if (FillInto(rows, appointments, fillError) != FillEnd::Complete) {
        // One line: the open's error when there was one, it says more.
        if (!retry_) {
            const std::string_view kept = "the previous list kept, tried again when it changes";
            if (openError)
                LogStepFailure(step, kept, openError->number, openError->text);
            else
                LogFailure("filling the new day's list, " + std::string(kept), fillError.number,
                           fillError.text, state_.AgentFolder() / kDiaryFileName);
        }
        ReadFailed(floor);
        return;
    }
    if (openError)
        LogStepFailure(step, "the new day's list refilled from the diary opened before",
                       openError->number, openError->text);
    Adopt(reopened, rows, floor);
    ReadSucceeded();
}

void frmAgent::Timer1_Timer() {
    // A tick that comes while this tick's box is open, or while a read waits in a dialog,
    // would act on what is being replaced.
    if (tickRunning_)
        return; // the tick with the box open plans the next
    if (reading_) {
        desktop_.NextTickAt(std::nullopt);
        return;
    }
    tickRunning_ = true;
    struct Done {
        bool& flag;
        ~Done() { flag = false; }
    } done{tickRunning_};

    DateTime now = clock_.Now();
    {
        reading_ = true;
        struct ReadDone {
            bool& flag;
            ~ReadDone() { flag = false; }
        } readDone{reading_};
        // A new day (midnight passed, a resume from sleep, a clock set) brings a new day's list.
        if (lastFillDay_ && std::chrono::floor<std::chrono::days>(now) != *lastFillDay_) {
            RebuildForNewDay(now);
            now = clock_.Now();
        } else if (retry_ && RetryIsDue(now)) {
            if (ReadAgain(MinuteOf(now))) {
                ReadSucceeded();
                if (std::exchange(listWindowOwed_, false))
                    desktop_.Show(WindowName::frmList, ShowMode::Modeless);
            } else {
                ReadFailed(MinuteOf(now));
            }
            now = clock_.Now();
        }
    }
    lastLook_ = MinuteOf(now);
    bool boxShown = false;
    if (auto text = reminders_.TakeDue(ReminderKind::OnTime, MinuteOf(now), 0)) {
        boxShown = true;
        desktop_.Remind(CutForDisplay(*text, kMaxDisplayCharacters), vbCritical, kAgentTitle);
    }
    // Read again: the on-time box may have been open for minutes, and Options used meanwhile.
    now = clock_.Now();
    reminders_.AdvanceReminders(state_.AgentSettings.Remind == 1,
                                state_.AgentSettings.AppointmentRemind, MinuteOf(now));
    if (state_.AgentSettings.Remind == 1) {
        if (auto text = reminders_.TakeDue(ReminderKind::Advance, MinuteOf(now),
                                           state_.AgentSettings.AppointmentRemind)) {
            boxShown = true;
            desktop_.Remind(CutForDisplay(*text, kMaxDisplayCharacters), vbInformation,
                            kAgentTitle);
            now = clock_.Now();
        }
    }
    PlanNextTick(now, boxShown);
}

void frmAgent::PlanNextTick(DateTime now, bool boxShown) {
    // A second at a time while there is such work: more boxes may be due, a file that changed
    // since the last tick is watched until it rests.
    if (boxShown || (retry_ && retry_->settling)) {
        desktop_.NextTickAt(std::nullopt);
        return;
    }
    const WallMinute minute = MinuteOf(now);
    const DateTime midnight = std::chrono::floor<std::chrono::days>(now) + std::chrono::days{1};
    // A failed read is tried again two minutes after the last try, or sooner when the watch
    // on the file says it changed.
    if (retry_ && retry_->lastTry + kRetryInterval < midnight) {
        const DateTime retryAt = std::max(retry_->lastTry + kRetryInterval, now);
        const WallMinute retryMinute = MinuteOf(retryAt);
        const auto due = [&](ReminderKind kind, int lead) {
            auto next = reminders_.NextDue(kind, lead);
            return next && *next <= retryMinute;
        };
        if (!due(ReminderKind::OnTime, 0) &&
            !(state_.AgentSettings.Remind == 1 &&
              due(ReminderKind::Advance, state_.AgentSettings.AppointmentRemind))) {
            desktop_.NextTickAt(retryAt);
            return;
        }
    }
    WallMinute next = MinuteOf(midnight);
    if (auto due = reminders_.NextDue(ReminderKind::OnTime, 0))
        next = std::min(next, *due);
    if (state_.AgentSettings.Remind == 1)
        if (auto due =
                reminders_.NextDue(ReminderKind::Advance, state_.AgentSettings.AppointmentRemind))
            next = std::min(next, *due);
    if (next <= minute)
        desktop_.NextTickAt(std::nullopt);
    else
        desktop_.NextTickAt(DateTime{std::chrono::minutes{next}});
}

void frmAgent::Form_MouseMove(int /*button*/, int /*shift*/, float x, float /*y*/) {
    double message = std::rint(static_cast<double>(x) / desktop_.TwipsPerPixelX());
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
        // The list is replaced only by a whole new read. A Refresh chosen while a read waits
        // in the log-in dialog is that read.
        if (!reading_)
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
