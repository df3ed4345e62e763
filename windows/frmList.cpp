#include "windows/frmList.h"

#include "agent/frmAgent.h"
#include "platform/RuntimeError.h"
#include "store/Variant.h"
#include "ui_frmList.h"
#include "windows/ListRowsModel.h"
#include "windows/WindowLook.h"

#include <QCloseEvent>
#include <QHeaderView>
#include <limits>
#include <optional>

namespace zurodid {
namespace {

constexpr int kObjectNotSet = 91;

const QStringList kAnniversaryHeaders{QStringLiteral("No."), QStringLiteral("วันที่"),
                                      QStringLiteral("วันสำคัญ / Anniversary")};
constexpr int kAnniversaryWidths[] = {500, 1300, 5100};
const QStringList kAppointmentHeaders{QStringLiteral("No."), QStringLiteral("วันที่"),
                                      QStringLiteral("เวลา"),
                                      QStringLiteral("นัดหมาย / Appointment")};
constexpr int kAppointmentWidths[] = {500, 1300, 800, 4300};

// A recordset that was never opened (no diary yet) fails like an unset object.
Recordset& Opened(const std::shared_ptr<Recordset>& recordset) {
    if (!recordset)
        throw RuntimeError(kObjectNotSet, "Object variable not set");
    return *recordset;
}

// The date a window test works on; none for a field that holds no date (Null, a text).
std::optional<DateTime> DateToTest(const Variant& value) {
    if (IsNull(value))
        return std::nullopt;
    try {
        return DateOfValue(value);
    } catch (const RuntimeError& error) {
        if (error.Number() == ErrorNumber::TypeMismatch ||
            error.Number() == ErrorNumber::InvalidUseOfNull)
            return std::nullopt;
        throw;
    }
}

// A field's text, taken over rather than copied when it is one: a fill moves tens of thousands.
std::string TextOrEmpty(Variant value) {
    if (auto* text = std::get_if<std::string>(&value))
        return std::move(*text);
    return IsNull(value) ? std::string() : TextOf(value);
}

template <std::size_t N>
void ShowColumns(QTreeView& view, QAbstractItemModel& model, const int (&widths)[N]) {
    view.setModel(&model);
    view.setFont(FormFont());
    view.setRootIsDecorated(false);
    view.setItemsExpandable(false);
    view.setUniformRowHeights(true);
    view.setSortingEnabled(false);
    view.setSelectionBehavior(QAbstractItemView::SelectRows);
    view.setEditTriggers(QAbstractItemView::NoEditTriggers);
    view.header()->setStretchLastSection(false);
    view.header()->setSectionsMovable(false);
    for (std::size_t column = 0; column < N; ++column)
        view.header()->resizeSection(static_cast<int>(column), Twips(widths[column]));
}

} // namespace

frmList::frmList(ProcessState& state, Desktop& desktop, Clock& clock, QWidget* parent)
    : QWidget(parent,
              Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint),
      ui_(std::make_unique<Ui::frmList>()), state_(state), desktop_(desktop), clock_(clock),
      anniversaryModel_(new ListRowsModel(lvAnniversary.ListItems, kAnniversaryHeaders, this)),
      appointmentModel_(new ListRowsModel(lvAppointment.ListItems, kAppointmentHeaders, this)) {
    ui_->setupUi(this);
    ShowNoWindowIcon(*this);
    PrepareFixedWindow(*this, 7215, 4695);
    ShowColumns(*ui_->lvAnniversary, *anniversaryModel_, kAnniversaryWidths);
    ShowColumns(*ui_->lvAppointment, *appointmentModel_, kAppointmentWidths);
}

frmList::~frmList() {
    // The models read the rows, which go before the base class takes the views down.
    delete anniversaryModel_;
    delete appointmentModel_;
}

void frmList::Form_Load() {
    ShowAll();
}

void frmList::closeEvent(QCloseEvent* event) {
    event->accept();
    emit Unloaded();
}

// One handler for every step of the fill: "no current record" goes on with the next step, a
// row deleted since the open asks for a refresh and ends the fill, anything else ends it.
template <typename Action> bool frmList::Step(Action&& action) {
    try {
        action();
        return true;
    } catch (const RuntimeError& error) {
        if (error.Number() == ErrorNumber::NoCurrentRecord)
            return true;
        if (error.Number() == ErrorNumber::RecordDeleted) {
            anniversaryModel_->Flush();
            appointmentModel_->Flush();
            desktop_.MsgBox("Please Refresh", vbInformation, kAgentTitle);
        }
        return false;
    } catch (const std::exception&) {
        return false;
    }
}

void frmList::ShowAll() {
    ListRowsModel::Batch anniversaryBatch(*anniversaryModel_);
    ListRowsModel::Batch appointmentBatch(*appointmentModel_);
    const DateTime today = clock_.Now();
    const int thisYear = static_cast<int>(DateOf(today).year());

    CurrentItem = nullptr; // its row goes with the clear
    if (!Step([&] { lvAnniversary.ListItems.Clear(); }))
        return;
    if (!Step([&] { lvAppointment.ListItems.Clear(); }))
        return;
    if (!Step([&] { Opened(state_.DiaryStore.rsAnniversary).MoveFirst(); }))
        return;
    ItemCounter = 0;
    if (!AnniversaryPass(today, thisYear, FormatDateTime(today, "yyyy")))
        return;
    if (!Step([&] { Opened(state_.DiaryStore.rsAnniversary).MoveFirst(); }))
        return;
    // Numbering goes on from this year's pass.
    if (!AnniversaryPass(today, thisYear + 1, std::to_string(thisYear + 1)))
        return;

    if (!Step([&] { Opened(state_.DiaryStore.rsAppointment).MoveFirst(); }))
        return;
    ItemCounter = 0;
    AppointmentPass(today);
}

bool frmList::AnniversaryPass(DateTime today, int year, const std::string& yearText) {
    for (;;) {
        // A cursor that cannot say where it stands counts as at its end: looping on could spin.
        bool atEnd = true;
        if (!Step([&] { atEnd = Opened(state_.DiaryStore.rsAnniversary).Eof(); }))
            return false;
        if (atEnd)
            return true;
        bool listed = true; // a failed test goes on with the next step, as every step does
        if (!Step([&] { listed = AnniversaryFallsWithin(year, today); }))
            return false;
        if (listed) {
            Recordset& anniversaries = Opened(state_.DiaryStore.rsAnniversary);
            if (!Step([&] { CountRow(); }))
                return false;
            if (!Step([&] { ItemNumber = ItemNumberText(ItemCounter); }))
                return false;
            if (!Step([&] { CurrentItem = &lvAnniversary.ListItems.Add(ItemNumber); }))
                return false;
            // The text keeps the stored day and month, even where the test rolled them over.
            if (!Step([&] {
                    DateTime date = DateOfValue(anniversaries.Fields(0).Value());
                    Current().SetSubItems(1, FormatDateTime(date, "dd/MM/") + yearText);
                }))
                return false;
            if (!Step([&] {
                    Current().SetSubItems(2, TextOrEmpty(anniversaries.Fields(1).Value()));
                }))
                return false;
        }
        bool moved = false;
        if (!Step([&] {
                Opened(state_.DiaryStore.rsAnniversary).MoveNext();
                moved = true;
            }))
            return false;
        if (!moved)
            return true; // no next row to go to: retrying would spin
    }
}

bool frmList::AppointmentPass(DateTime today) {
    for (;;) {
        bool atEnd = true;
        if (!Step([&] { atEnd = Opened(state_.DiaryStore.rsAppointment).Eof(); }))
            return false;
        if (atEnd)
            return true;
        bool listed = true;
        if (!Step([&] { listed = AppointmentFallsWithin(today); }))
            return false;
        if (listed) {
            Recordset& appointments = Opened(state_.DiaryStore.rsAppointment);
            if (!Step([&] { CountRow(); }))
                return false;
            if (!Step([&] { ItemNumber = ItemNumberText(ItemCounter); }))
                return false;
            if (!Step([&] { CurrentItem = &lvAppointment.ListItems.Add(ItemNumber); }))
                return false;
            if (!Step([&] {
                    DateTime when = DateOfValue(appointments.Fields(0).Value());
                    Current().SetSubItems(1, FormatDateTime(when, "dd/mm/yyyy"));
                }))
                return false;
            if (!Step([&] {
                    DateTime when = DateOfValue(appointments.Fields(0).Value());
                    Current().SetSubItems(2, FormatDateTime(when, "hh:nn"));
                }))
                return false;
            if (!Step(
                    [&] { Current().SetSubItems(3, TextOrEmpty(appointments.Fields(1).Value())); }))
                return false;
        }
        bool moved = false;
        if (!Step([&] {
                Opened(state_.DiaryStore.rsAppointment).MoveNext();
                moved = true;
            }))
            return false;
        if (!moved)
            return true;
    }
}

bool frmList::AnniversaryFallsWithin(int year, DateTime today) {
    // A row without a readable date is passed over and takes no number; ending the fill there
    // would silently hide every later row of both lists.
    std::optional<DateTime> stored =
        DateToTest(Opened(state_.DiaryStore.rsAnniversary).Fields(0).Value());
    if (!stored)
        return false;
    auto date = DateOf(*stored);
    DateTime occurrence = DateRollingOver(year, static_cast<unsigned>(date.month()),
                                          static_cast<unsigned>(date.day()));
    return WithinDays(occurrence, today, state_.AgentSettings.AnniversaryStartUp);
}

bool frmList::AppointmentFallsWithin(DateTime today) {
    std::optional<DateTime> when =
        DateToTest(Opened(state_.DiaryStore.rsAppointment).Fields(0).Value());
    return when && WithinDays(*when, today, state_.AgentSettings.AppointmentStartUp);
}

void frmList::CountRow() {
    if (ItemCounter == std::numeric_limits<std::int16_t>::max())
        throw RuntimeError(ErrorNumber::Overflow, "Overflow");
    ++ItemCounter;
}

ListItem& frmList::Current() {
    if (!CurrentItem)
        throw RuntimeError(kObjectNotSet, "Object variable not set");
    return *CurrentItem;
}

} // namespace zurodid
