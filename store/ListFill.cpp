#include "store/ListFill.h"

#include "platform/RuntimeError.h"
#include "store/Variant.h"

#include <limits>
#include <optional>

namespace zurodid {
namespace {

// Where the two fills part. Everything else, the handler included, is the same for both.
struct FillPolicy {
    // 3021 while the date is read for the test: the failed step is skipped into the row,
    // which is listed without its texts (list window), or the row is passed over (agent).
    bool listsRowWhoseDateCannotBeRead;
    // A field 0 that holds no date (a text): the row is passed over (list window), or the
    // conversion error ends the fill (agent).
    bool passesOverFieldWithoutDate;
};

constexpr FillPolicy kAgentPolicy{false, false};
constexpr FillPolicy kListWindowPolicy{true, true};

Recordset& Opened(Recordset* recordset) {
    if (!recordset)
        throw RuntimeError(ErrorNumber::ObjectNotSet, "Object variable not set");
    return *recordset;
}

// A field's text, taken over rather than copied when it is one: a fill moves tens of thousands.
std::string TextOrEmpty(Variant value) {
    if (auto* text = std::get_if<std::string>(&value))
        return std::move(*text);
    return IsNull(value) ? std::string() : TextOf(value);
}

// One run of a fill: its steps under the fill's one handler, and the members it writes.
class FillRun {
public:
    FillRun(const FillPolicy& policy, ListFillMembers& members, DateTime today, FillError* error)
        : policy_(policy), members_(members), today_(today), error_(error) {}

    FillEnd End() const { return end_; }

    // A step that reads the recordsets: an error it raises is the diary's, not the fill's.
    template <typename Action> bool Read(Action&& action) {
        reading_ = true;
        const bool goesOn = Step(std::forward<Action>(action));
        reading_ = false;
        return goesOn;
    }

    // Runs one step. 3021 (no current record) skips it and the fill goes on; 3167 (row
    // deleted) and any other error end the fill. False when the fill has ended.
    template <typename Action> bool Step(Action&& action) {
        try {
            action();
            return true;
        } catch (const RuntimeError& error) {
            if (error.Number() == ErrorNumber::NoCurrentRecord)
                return true;
            end_ = error.Number() == ErrorNumber::RecordDeleted ? FillEnd::RecordDeleted
                                                                : FillEnd::Failed;
            Keep(error.Number(), error.what());
        } catch (const std::exception& error) {
            end_ = FillEnd::Failed;
            Keep(0, error.what());
        }
        return false;
    }

    // Visits the rows from the current one to the end; false when the fill has ended. A
    // cursor that cannot say where it stands, or that cannot move on, ends the walk: skipping
    // that step would visit the same row for ever.
    template <typename Visit> bool Walk(Recordset& rows, Visit&& visit) {
        for (;;) {
            bool atEnd = true;
            if (!Read([&] { atEnd = rows.Eof(); }))
                return false;
            if (atEnd)
                return true;
            if (!visit())
                return false;
            bool moved = false;
            if (!Read([&] {
                    rows.MoveNext();
                    moved = true;
                }))
                return false;
            if (!moved)
                return true;
        }
    }

    bool AppointmentRow(Recordset& appointments, ListView& view, std::int16_t days) {
        DateField when;
        bool listed = false;
        if (!TestDate(appointments, when, listed,
                      [&](DateTime date) { return WithinDays(date, today_, days); }))
            return false;
        if (!listed)
            return true;
        return AddRow(view) && Read([&] {
                   Current().SetSubItems(1, FormatDateTime(when.Get(appointments), "dd/mm/yyyy"));
               }) &&
               Read([&] {
                   Current().SetSubItems(2, FormatDateTime(when.Get(appointments), "hh:nn"));
               }) &&
               Read([&] { Current().SetSubItems(3, TextOrEmpty(appointments.Fields(1).Value())); });
    }

    // The row's day and month in `year` (a day past the month's end rolls over), against
    // today through today + days; the text keeps the stored day and month.
    bool AnniversaryRow(Recordset& anniversaries, ListView& view, std::int16_t days, int year,
                        const std::string& yearText) {
        DateField stored;
        bool listed = false;
        if (!TestDate(anniversaries, stored, listed, [&](DateTime date) {
                auto day = DateOf(date);
                DateTime occurrence = DateRollingOver(year, static_cast<unsigned>(day.month()),
                                                      static_cast<unsigned>(day.day()));
                return WithinDays(occurrence, today_, days);
            }))
            return false;
        if (!listed)
            return true;
        return AddRow(view) && Read([&] {
                   Current().SetSubItems(1, FormatDateTime(stored.Get(anniversaries), "dd/MM/") +
                                                yearText);
               }) &&
               Read(
                   [&] { Current().SetSubItems(2, TextOrEmpty(anniversaries.Fields(1).Value())); });
    }

private:
    // Field 0 as read for the test, read again for a text only where that read was skipped.
    struct DateField {
        std::optional<DateTime> date;
        DateTime Get(Recordset& rows) const {
            return date ? *date : DateOfValue(rows.Fields(0).Value());
        }
    };

    // Reads field 0 of the current row and decides whether the row is listed; false when the
    // fill has ended.
    template <typename Test>
    bool TestDate(Recordset& rows, DateField& field, bool& listed, Test&& within) {
        std::optional<Variant> value;
        if (!Read([&] { value = rows.Fields(0).Value(); }))
            return false;
        if (!value) {
            listed = policy_.listsRowWhoseDateCannotBeRead;
            return true;
        }
        if (IsNull(*value)) {
            listed = false;
            return true;
        }
        return Step([&] {
            try {
                field.date = DateOfValue(*value);
            } catch (const RuntimeError& error) {
                if (error.Number() != ErrorNumber::TypeMismatch ||
                    !policy_.passesOverFieldWithoutDate)
                    throw;
            }
            listed = field.date && within(*field.date);
        });
    }

    // Counts, numbers and appends a row, which becomes the current one.
    bool AddRow(ListView& view) {
        return Step([&] {
                   if (members_.ItemCounter == std::numeric_limits<std::int16_t>::max())
                       throw RuntimeError(ErrorNumber::Overflow, "Overflow");
                   ++members_.ItemCounter;
               }) &&
               Step([&] { members_.ItemNumber = ItemNumberText(members_.ItemCounter); }) &&
               Step([&] { members_.CurrentItem = &view.ListItems.Add(members_.ItemNumber); });
    }

    ListItem& Current() {
        if (!members_.CurrentItem)
            throw RuntimeError(ErrorNumber::ObjectNotSet, "Object variable not set");
        return *members_.CurrentItem;
    }

    void Keep(int number, const char* text) {
        if (error_)
            *error_ = {number, text, reading_};
    }

    const FillPolicy& policy_;
    ListFillMembers& members_;
    DateTime today_;
    FillError* error_;
    FillEnd end_ = FillEnd::Complete;
    bool reading_ = false;
};

} // namespace

std::string ItemNumberText(int number) {
    std::string digits = std::to_string(number);
    if (number <= 9)
        return "00" + digits;
    if (number <= 99)
        return "0" + digits;
    return digits;
}

bool WithinDays(DateTime date, DateTime today, long long days) {
    return DaysBetween(date, today) < 1 && DaysBetween(AddDays(today, days), date) < 1;
}

FillEnd FillAgentAppointments(Recordset* appointments, std::int16_t days, DateTime today,
                              ListView& rows, ListFillMembers& members, FillError* error) {
    FillRun run(kAgentPolicy, members, today, error);
    std::int32_t count = 0;
    if (!run.Read([&] { count = Opened(appointments).RecordCount(); }))
        return run.End();
    if (count == 0)
        return FillEnd::Complete; // list and counter stay as they are
    if (!run.Read([&] { appointments->MoveFirst(); }))
        return run.End();
    members.ItemCounter = 0;
    run.Walk(*appointments, [&] { return run.AppointmentRow(*appointments, rows, days); });
    return run.End();
}

FillEnd FillListWindow(const ListWindowFill& fill, ListView& lvAnniversary, ListView& lvAppointment,
                       ListFillMembers& members, FillError* error) {
    FillRun run(kListWindowPolicy, members, fill.today, error);
    const int thisYear = static_cast<int>(DateOf(fill.today).year());
    const std::string thisYearText = FormatDateTime(fill.today, "yyyy");
    const std::string nextYearText = std::to_string(thisYear + 1);

    members.CurrentItem = nullptr; // its row goes with the clear
    if (!run.Step([&] { lvAnniversary.ListItems.Clear(); }) ||
        !run.Step([&] { lvAppointment.ListItems.Clear(); }))
        return run.End();

    // Once the move to the first row has run, the recordset is there to walk.
    if (!run.Read([&] { Opened(fill.anniversaries).MoveFirst(); }))
        return run.End();
    Recordset& anniversaries = *fill.anniversaries;
    members.ItemCounter = 0;
    if (!run.Walk(anniversaries, [&] {
            return run.AnniversaryRow(anniversaries, lvAnniversary, fill.anniversaryDays, thisYear,
                                      thisYearText);
        }))
        return run.End();
    if (!run.Read([&] { anniversaries.MoveFirst(); }))
        return run.End();
    // Next year's numbers go on from this year's.
    if (!run.Walk(anniversaries, [&] {
            return run.AnniversaryRow(anniversaries, lvAnniversary, fill.anniversaryDays,
                                      thisYear + 1, nextYearText);
        }))
        return run.End();

    if (!run.Read([&] { Opened(fill.appointments).MoveFirst(); }))
        return run.End();
    Recordset& appointments = *fill.appointments;
    members.ItemCounter = 0;
    run.Walk(appointments,
             [&] { return run.AppointmentRow(appointments, lvAppointment, fill.appointmentDays); });
    return run.End();
}

} // namespace zurodid
