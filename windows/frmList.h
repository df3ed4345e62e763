#pragma once

#include "agent/Desktop.h"
#include "store/ListRows.h"
#include "store/ProcessState.h"

#include <QWidget>
#include <cstdint>
#include <memory>
#include <string>

namespace Ui {
class frmList;
}

namespace zurodid {

class ListRowsModel;

// The list window: the coming anniversaries (upper list) and appointments (lower list), read
// from the shared recordsets. It writes nothing.
class frmList final : public QWidget {
    Q_OBJECT
public:
    frmList(ProcessState& state, Desktop& desktop, Clock& clock, QWidget* parent = nullptr);
    ~frmList() override;

    void Form_Load();
    // Empties both lists and fills them again; never lets an error out.
    void ShowAll();

    // The rows the two views show.
    ListView lvAnniversary;
    ListView lvAppointment;

    std::int16_t ItemCounter = 0;
    std::string ItemNumber;
    ListItem* CurrentItem = nullptr;

signals:
    void Unloaded();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    template <typename Action> bool Step(Action&& action);
    bool AnniversaryPass(DateTime today, int year, const std::string& yearText);
    bool AppointmentPass(DateTime today);
    bool AnniversaryFallsWithin(int year, DateTime today);
    bool AppointmentFallsWithin(DateTime today);
    void CountRow();
    ListItem& Current();

    std::unique_ptr<Ui::frmList> ui_;
    ProcessState& state_;
    Desktop& desktop_;
    Clock& clock_;
    ListRowsModel* anniversaryModel_;
    ListRowsModel* appointmentModel_;
};

} // namespace zurodid
