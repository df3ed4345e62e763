#pragma once

#include "platform/DateTime.h"
#include "store/Dao.h"
#include "store/ListRows.h"

#include <cstdint>
#include <string>

namespace zurodid {

// The fill rules of the two fills, the agent's hidden list and the list window: which rows
// are listed, their numbers and texts, and what each fill's one error handler does. The
// callers only read the clock and show what the fill asks them to.

// The number text that heads every row: 001..009, 010..099, then plain digits.
std::string ItemNumberText(int number);

// The date window shared by the lists: today <= date <= today + days, by calendar day.
bool WithinDays(DateTime date, DateTime today, long long days);

// What a window keeps between the steps of its fill.
struct ListFillMembers {
    std::int16_t ItemCounter = 0; // rows added by the running fill; a 32,768th is an overflow
    std::string ItemNumber;       // the number text of the row being added
    ListItem* CurrentItem = nullptr;
};

// How a fill ended.
enum class FillEnd {
    Complete,
    RecordDeleted, // a row deleted since the recordset was opened: the user should refresh
    Failed,        // any other error; the rows added so far stay
};

// The error that ended a fill, for the log.
struct FillError {
    int number = 0;
    std::string text;
    // Raised by the recordsets (the diary could not be read: busy, gone, damaged), not by the
    // fill's own rules (an overflow of the counter, a value of the wrong type).
    bool reading = false;
};

// The agent's hidden list: appends the appointments of today through today + days to
// `rows` (the caller clears it when it rebuilds). An empty table leaves list and counter as
// they are; 3021 skips its step (a row whose date cannot be read is passed over); any other
// error ends the fill quietly. Never throws.
FillEnd FillAgentAppointments(Recordset* appointments, std::int16_t days, DateTime today,
                              ListView& rows, ListFillMembers& members, FillError* error = nullptr);

struct ListWindowFill {
    Recordset* anniversaries = nullptr;
    Recordset* appointments = nullptr;
    std::int16_t anniversaryDays = 0;
    std::int16_t appointmentDays = 0;
    DateTime today{};
};

// The list window's two lists: empties both, lists this year's anniversaries then next
// year's, numbered on, then the appointments numbered from 001. 3021 skips its step (a row
// whose date cannot be read is still listed, without texts); a row without a date is passed
// over; a deleted row ends the fill with RecordDeleted; any other error ends it. Never throws.
FillEnd FillListWindow(const ListWindowFill& fill, ListView& lvAnniversary, ListView& lvAppointment,
                       ListFillMembers& members, FillError* error = nullptr);

} // namespace zurodid
