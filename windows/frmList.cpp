#include "windows/frmList.h"

#include "platform/Log.h"
#include "ui_frmList.h"
#include "windows/ListRowsModel.h"
#include "windows/WindowLook.h"

#include <QCloseEvent>
#include <QHeaderView>
#include <QStyleOptionHeader>

namespace zurodid {
namespace {

const QStringList kAnniversaryHeaders{QStringLiteral("No."), QStringLiteral("วันที่"),
                                      QStringLiteral("วันสำคัญ / Anniversary")};
constexpr int kAnniversaryWidths[] = {500, 1300, 5100};
const QStringList kAppointmentHeaders{QStringLiteral("No."), QStringLiteral("วันที่"),
                                      QStringLiteral("เวลา"),
                                      QStringLiteral("นัดหมาย / Appointment")};
constexpr int kAppointmentWidths[] = {500, 1300, 800, 4300};

// Measures its captions in the weight it draws them in. QHeaderView measures them in bold,
// for highlighted sections these lists never show, and that loaded the bold face of the Latin
// and of the Thai font at every start for the measure alone.
class ListHeader final : public QHeaderView {
public:
    explicit ListHeader(QWidget* parent) : QHeaderView(Qt::Horizontal, parent) {
        // As the header a tree view makes for itself.
        setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    }

protected:
    QSize sectionSizeFromContents(int logicalIndex) const override {
        ensurePolished();
        QStyleOptionHeader option;
        initStyleOption(&option);
        option.section = logicalIndex;
        option.fontMetrics = fontMetrics();
        option.text = model()->headerData(logicalIndex, orientation()).toString();
        return style()->sizeFromContents(QStyle::CT_HeaderSection, &option, QSize(), this);
    }
};

template <std::size_t N>
void ShowColumns(QTreeView& view, QAbstractItemModel& model, const int (&widths)[N]) {
    view.setHeader(new ListHeader(&view));
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

void frmList::ShowAll() {
    ListRowsModel::Batch anniversaryBatch(*anniversaryModel_);
    ListRowsModel::Batch appointmentBatch(*appointmentModel_);
    const AgentSettings& settings = state_.AgentSettings;
    const ListWindowFill fill{state_.DiaryStore.rsAnniversary.get(),
                              state_.DiaryStore.rsAppointment.get(), settings.AnniversaryStartUp,
                              settings.AppointmentStartUp, clock_.Now()};
    // Filled aside: a diary that cannot be read now (being saved, gone) leaves the rows the
    // window shows as they were.
    ListView anniversaries;
    ListView appointments;
    ListFillMembers members = members_;
    FillError error;
    const FillEnd end = FillListWindow(fill, anniversaries, appointments, members, &error);
    // Without an open diary the start-up's line has said why already.
    const bool diaryOpen = fill.anniversaries && fill.appointments;
    const std::filesystem::path diary = state_.AgentFolder() / kDiaryFileName;
    if (end == FillEnd::Failed && error.reading) {
        if (diaryOpen)
            LogFailure("filling the list window, kept the rows it showed", error.number, error.text,
                       diary);
        return;
    }
    // The rows move whole: the current row stays where it is, in the window's list now.
    lvAnniversary.ListItems.TakeRowsOf(anniversaries.ListItems);
    lvAppointment.ListItems.TakeRowsOf(appointments.ListItems);
    members_ = members;
    if (end == FillEnd::Failed && diaryOpen)
        LogFailure("filling the list window, ended with the rows read so far", error.number,
                   error.text, diary);
    if (end == FillEnd::RecordDeleted) {
        // The rows read so far are on view while the box is open.
        anniversaryModel_->Flush();
        appointmentModel_->Flush();
        desktop_.MsgBox("Please Refresh", vbInformation, kAgentTitle);
    }
}

} // namespace zurodid
