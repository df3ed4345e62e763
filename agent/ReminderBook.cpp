#include "agent/ReminderBook.h"

#include <algorithm>
#include <functional>
#include <string_view>
#include <utility>
#include <vector>

namespace zurodid {
namespace {

constexpr WallMinute kMinutesPerDay = 24 * 60;

WallMinute DayOfMinute(WallMinute minute) {
    return minute >= 0 ? minute / kMinutesPerDay
                       : -((-minute + kMinutesPerDay - 1) / kMinutesPerDay);
}

// A row as Arm tells identical rows apart: its date, time and subject, viewed in the list
// rather than joined into a new string for each of tens of thousands of rows.
struct RowTexts {
    std::string_view date, time, subject;
    bool operator==(const RowTexts&) const = default;
};

struct RowTextsHash {
    std::size_t operator()(const RowTexts& row) const noexcept {
        const std::hash<std::string_view> hash;
        std::size_t seed = hash(row.date);
        for (std::string_view part : {row.time, row.subject})
            seed ^= hash(part) + 0x9e3779b97f4a7c15ULL + (seed << 6) + (seed >> 2);
        return seed;
    }
};

} // namespace

WallMinute MinuteOf(DateTime value) {
    return std::chrono::floor<std::chrono::minutes>(value).time_since_epoch().count();
}

std::string ReminderBook::KeyOf(std::size_t row) const {
    const ListItem& item = rows_->Item(static_cast<int>(row) + 1);
    std::string key = item.SubItems(1);
    key += '\x1f';
    key += item.SubItems(2);
    key += '\x1f';
    key += item.SubItems(3);
    return key;
}

std::string ReminderBook::TextOf(std::size_t row) const {
    const ListItem& item = rows_->Item(static_cast<int>(row) + 1);
    return item.SubItems(2) + " : " + item.SubItems(3);
}

bool ReminderBook::WasShown(const std::string& key, int occurrence, ReminderKind kind) const {
    auto found = shown_.find(key);
    return found != shown_.end() && found->second.count[static_cast<int>(kind)] >= occurrence;
}

void ReminderBook::MarkShown(const std::string& key, int occurrence, ReminderKind kind,
                             WallMinute appointment) {
    Shown& shown = shown_.try_emplace(key, Shown{DayOfMinute(appointment)}).first->second;
    int& count = shown.count[static_cast<int>(kind)];
    count = std::max(count, occurrence);
}

bool ReminderBook::Showable(ReminderKind kind, WallMinute appointment, WallMinute now, int lead) {
    if (kind == ReminderKind::OnTime)
        return appointment <= now;
    const WallMinute due = appointment - lead;
    return due <= now && (now < appointment || now == due);
}

bool ReminderBook::Expired(ReminderKind kind, WallMinute appointment, WallMinute now, int lead) {
    // The on-time box covers an advance reminder whose appointment has come.
    return kind == ReminderKind::Advance && appointment - lead < now && appointment <= now;
}

void ReminderBook::KeepOwed(WallMinute now, int lead) {
    // Kept with its text: those rows are going.
    if (!rows_)
        return;
    for (int kind = 0; kind < 2; ++kind) {
        const auto k = static_cast<ReminderKind>(kind);
        const int rowLead = k == ReminderKind::OnTime ? 0 : lead;
        for (std::size_t i = cursor_[kind]; i < appointment_.size(); ++i) {
            const WallMinute appointment = appointment_[i];
            if (done_[kind][i] || appointment == kNoMinute)
                continue;
            const WallMinute due = appointment - rowLead;
            if (due < floor_ || (k == ReminderKind::Advance && due < advanceSince_) ||
                DayOfMinute(due) != DayOfMinute(appointment) ||
                !Showable(k, appointment, now, rowLead))
                continue;
            std::string key = KeyOf(i);
            if (!WasShown(key, occurrence_[i], k))
                late_.push_back({k, std::move(key), occurrence_[i], appointment, TextOf(i)});
        }
    }
}

void ReminderBook::ReadFailed(WallMinute floor) {
    if (!failedReadFloor_ || floor < *failedReadFloor_)
        failedReadFloor_ = floor;
}

void ReminderBook::Arm(const ListItemCollection& rows, WallMinute floor, WallMinute now) {
    // Late rather than lost: what came due while the reads failed is owed now.
    if (failedReadFloor_)
        floor = std::min(floor, *std::exchange(failedReadFloor_, std::nullopt));

    // Forget what was shown for days long gone: a date going back and forth stays covered.
    const WallMinute today = DayOfMinute(now);
    std::erase_if(shown_, [today](const auto& entry) { return entry.second.day < today - 7; });

    rows_ = &rows;
    const auto count = static_cast<std::size_t>(rows.Count());
    appointment_.assign(count, kNoMinute);
    occurrence_.assign(count, 1);
    const auto textsOf = [&rows](std::size_t row) {
        const ListItem& item = rows.Item(static_cast<int>(row) + 1);
        return RowTexts{item.SubItems(1), item.SubItems(2), item.SubItems(3)};
    };
    std::vector<std::pair<std::size_t, std::uint32_t>> byHash(count); // (hash, row)
    for (std::size_t i = 0; i < count; ++i) {
        const RowTexts texts = textsOf(i);
        const auto day = DayOfDateText(texts.date);
        const auto minutes = MinutesOfTimeText(texts.time);
        if (day && minutes)
            appointment_[i] = MinuteOf(DateTime{*day}) + *minutes;
        byHash[i] = {RowTextsHash{}(texts), static_cast<std::uint32_t>(i)};
    }
    // Identical rows are counted one by one in list order. Grouped by hash (in list order
    // within a group), only rows that may be identical are compared, and no row's texts are
    // copied: this runs over every row of every fill.
    std::sort(byHash.begin(), byHash.end());
    for (auto group = byHash.begin(); group != byHash.end();) {
        const auto end = std::find_if(group, byHash.end(),
                                      [&](const auto& row) { return row.first != group->first; });
        for (auto row = std::next(group); row != end; ++row) {
            // The nearest earlier row with the same texts: this one is the next of them.
            const RowTexts texts = textsOf(row->second);
            for (auto earlier = row; earlier != group;) {
                --earlier;
                if (textsOf(earlier->second) == texts) {
                    occurrence_[row->second] = static_cast<std::uint16_t>(
                        std::min<int>(occurrence_[earlier->second] + 1, UINT16_MAX));
                    break;
                }
            }
        }
        group = end;
    }
    for (auto& done : done_)
        done.assign(count, false);
    cursor_[0] = cursor_[1] = 0;
    quietUntil_[0] = quietUntil_[1] = kNoMinute;
    floor_ = floor;
}

std::optional<std::string> ReminderBook::TakeDue(ReminderKind kind, WallMinute now, int lead) {
    const int k = static_cast<int>(kind);
    const int rowLead = kind == ReminderKind::OnTime ? 0 : lead;
    for (std::size_t i = 0; i < late_.size();) {
        Late& late = late_[i];
        if (late.kind != kind || !Showable(kind, late.appointment, now, rowLead)) {
            const bool gone = late.kind == kind && Expired(kind, late.appointment, now, rowLead);
            if (gone)
                late_.erase(late_.begin() + static_cast<std::ptrdiff_t>(i));
            else
                ++i;
            continue;
        }
        const bool shownBefore = WasShown(late.key, late.occurrence, kind);
        if (!shownBefore)
            MarkShown(late.key, late.occurrence, kind, late.appointment);
        std::string text = std::move(late.text);
        late_.erase(late_.begin() + static_cast<std::ptrdiff_t>(i));
        if (!shownBefore)
            return text;
    }
    if (now < quietUntil_[k] && lead == quietLead_[k])
        return std::nullopt;
    std::optional<std::string> text;
    std::vector<bool>& done = done_[k];
    WallMinute nextDue = INT64_MAX;
    for (std::size_t i = cursor_[k]; i < appointment_.size() && !text; ++i) {
        if (done[i])
            continue;
        const WallMinute appointment = appointment_[i];
        if (appointment == kNoMinute) {
            done[i] = true;
            continue;
        }
        const WallMinute due = appointment - rowLead;
        // Not owed: passed before the fill, passed while advance reminders were off, an
        // advance minute on the day before, or an advance one whose appointment has come.
        if (due < floor_ || (kind == ReminderKind::Advance && due < advanceSince_) ||
            DayOfMinute(due) != DayOfMinute(appointment) ||
            Expired(kind, appointment, now, rowLead)) {
            done[i] = true;
            continue;
        }
        if (!Showable(kind, appointment, now, rowLead)) {
            nextDue = std::min(nextDue, due);
            continue;
        }
        done[i] = true;
        std::string key = KeyOf(i);
        if (WasShown(key, occurrence_[i], kind))
            continue;
        MarkShown(key, occurrence_[i], kind, appointment);
        text = TextOf(i);
    }
    // A whole look finds when the next one is due; one cut short by a box looks again.
    quietUntil_[k] = text ? kNoMinute : nextDue;
    quietLead_[k] = lead;
    while (cursor_[k] < done.size() && done[cursor_[k]])
        ++cursor_[k];
    return text;
}

std::optional<WallMinute> ReminderBook::NextDue(ReminderKind kind, int lead) const {
    const int k = static_cast<int>(kind);
    const int rowLead = kind == ReminderKind::OnTime ? 0 : lead;
    WallMinute next = quietLead_[k] == lead ? quietUntil_[k] : kNoMinute;
    // Late ones not shown yet: the clock went back before their minute.
    for (const Late& late : late_)
        if (late.kind == kind)
            next = std::min(next, late.appointment - rowLead);
    if (next == INT64_MAX)
        return std::nullopt;
    return next;
}

void ReminderBook::AdvanceReminders(bool on, int lead, WallMinute now) {
    const bool first = !advanceOn_.has_value();
    const bool switchedOn = on && !first && !*advanceOn_;
    const bool leadChanged = on && !first && *advanceOn_ && lead != advanceLead_;
    advanceOn_ = on;
    advanceLead_ = lead;
    if (!on) {
        // Those whose minute comes while off are never owed.
        std::erase_if(late_, [](const Late& late) { return late.kind == ReminderKind::Advance; });
        return;
    }
    if (switchedOn || leadChanged) {
        advanceSince_ = now;
        quietUntil_[static_cast<int>(ReminderKind::Advance)] = kNoMinute;
    }
}

std::int32_t ReminderBook::FirstOpenRow(ReminderKind kind) const {
    return static_cast<std::int32_t>(cursor_[static_cast<int>(kind)]) + 1;
}

} // namespace zurodid
