#pragma once

#include "platform/DateTime.h"
#include "store/ListRows.h"

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace zurodid {

enum class ReminderKind : int { OnTime = 0, Advance = 1 };

// A minute of the wall clock, counted from the clock's epoch: what reminders are compared in,
// so that a reminder keeps its place across midnight, a sleep or a clock set back.
using WallMinute = std::int64_t;
WallMinute MinuteOf(DateTime value);

// What the timer owes the person for the rows of the agent's list: for each row an on-time
// reminder in its minute and an advance one `lead` minutes before it, on the row's own day.
// A reminder is owed from the fill on; one whose minute came while none could be shown (a box
// open, a sleep, a clock jump) is shown late; an advance one only while its appointment is
// still ahead. A reminder shown is never shown again that day, whatever rebuilds the list: a
// row is known by its date, time and subject, and identical rows count one by one.
// The book is told the facts (reads that failed or succeeded, advance reminders switched on or
// off) and keeps the floors below which nothing is owed itself, whatever order they come in.
class ReminderBook {
public:
    // Before the rows are replaced: what they still owe at `now` is kept, to be shown first.
    void KeepOwed(WallMinute now, int lead);
    // A read that failed: had it succeeded, its reminders would have been owed from `floor` on.
    // The first failure's floor stands until a read succeeds.
    void ReadFailed(WallMinute floor);
    // A read that succeeded: takes up the rows of the new fill (the rows stay where they are,
    // and must stay unchanged until the next Arm). Reminders whose minute is before `floor`
    // (or before the floor of a read that failed since the last success) are not owed.
    void Arm(const ListItemCollection& rows, WallMinute floor, WallMinute now);

    // Whether advance reminders are on, and their lead, as seen at `now`. One switched on, or
    // given another lead, is owed only from `now` on; while off, none is owed.
    void AdvanceReminders(bool on, int lead, WallMinute now);

    // The text of the first reminder of `kind` due at `now`, late ones first, then in list
    // order; it counts as shown from here on. None when nothing is due.
    std::optional<std::string> TakeDue(ReminderKind kind, WallMinute now, int lead);

    // After a look at the clock (TakeDue of `kind` that found nothing due), the first minute at
    // which a reminder of `kind` can come due while the rows stay as they are: a minute not
    // after that look when the book does not know yet. None when nothing more is owed.
    std::optional<WallMinute> NextDue(ReminderKind kind, int lead) const;

    // The 1-based position of the first row whose reminder of `kind` is still to come (one past
    // the last row when there is none).
    std::int32_t FirstOpenRow(ReminderKind kind) const;

private:
    struct Late {
        ReminderKind kind;
        std::string key;
        int occurrence;
        WallMinute appointment;
        std::string text;
    };
    struct Shown {
        WallMinute day; // the row's day, to forget it a week later
        int count[2] = {0, 0};
    };
    static constexpr WallMinute kNoMinute = INT64_MIN;

    std::string KeyOf(std::size_t row) const;
    std::string TextOf(std::size_t row) const;
    bool WasShown(const std::string& key, int occurrence, ReminderKind kind) const;
    void MarkShown(const std::string& key, int occurrence, ReminderKind kind,
                   WallMinute appointment);
    // Whether the reminder of `kind` for an appointment is still owed at `now`: its minute has
    // come, and for an advance one the appointment has not (unless it is the advance minute).
    static bool Showable(ReminderKind kind, WallMinute appointment, WallMinute now, int lead);
    static bool Expired(ReminderKind kind, WallMinute appointment, WallMinute now, int lead);

    const ListItemCollection* rows_ = nullptr;
    std::vector<WallMinute> appointment_; // kNoMinute: a row whose date or time cannot be read
    std::vector<std::uint16_t> occurrence_;
    std::vector<bool> done_[2];
    std::size_t cursor_[2] = {0, 0};
    // No reminder of a kind is due before this minute (with that lead): a tick until then
    // need not look at the rows.
    WallMinute quietUntil_[2] = {kNoMinute, kNoMinute};
    int quietLead_[2] = {0, 0};
    WallMinute floor_ = kNoMinute;
    // The floor of the first read that failed since the last one that succeeded.
    std::optional<WallMinute> failedReadFloor_;
    // The advance reminders as last told (none before the first telling: on since the fill),
    // and the minute from which those of the current lead are owed.
    std::optional<bool> advanceOn_;
    int advanceLead_ = 0;
    WallMinute advanceSince_ = kNoMinute;
    std::vector<Late> late_;
    std::map<std::string, Shown> shown_;
};

} // namespace zurodid
