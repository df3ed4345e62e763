#pragma once

#include "agent/Desktop.h"
#include "store/ListFill.h"
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

    // Form_Load: the window's load event; it fills the lists.
    void Form_Load();
    // Empties both lists and fills them again; a row deleted since the open asks the user to
    // refresh; a diary that cannot be read keeps the rows shown before. Never lets an error out.
    void ShowAll();

    // lvAnniversary: the upper list, the coming anniversaries.
    ListView lvAnniversary;
    // lvAppointment: the lower list, the coming appointments.
    ListView lvAppointment;

signals:
    void Unloaded();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    std::unique_ptr<Ui::frmList> ui_;
    ListFillMembers members_; // ItemCounter, ItemNumber, CurrentItem of the fill
    ProcessState& state_;
    Desktop& desktop_;
    Clock& clock_;
    ListRowsModel* anniversaryModel_;
    ListRowsModel* appointmentModel_;
};

} // namespace zurodid
