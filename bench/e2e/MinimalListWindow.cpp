// The floor of the start-up benchmark: the smallest Qt 6 program that shows what the agent shows
// at start with StartUpRemind=1, a tray icon and the list window (481 x 313, two list views with
// the agent's columns and fonts) holding the same rows, which it is given instead of reading a
// diary: `minimal_list_window ROWS_FILE`. Each line of ROWS_FILE is a row: "A" or "P" (the
// anniversaries' list or the appointments'), then its texts after the number, tab-separated.
#include <QAbstractTableModel>
#include <QApplication>
#include <QFile>
#include <QHeaderView>
#include <QIcon>
#include <QSystemTrayIcon>
#include <QTreeView>
#include <QWidget>
#include <vector>

namespace {

class RowsModel final : public QAbstractTableModel {
public:
    RowsModel(QStringList headers, QObject* parent)
        : QAbstractTableModel(parent), headers_(std::move(headers)) {}
    std::vector<QStringList> rows;

    int rowCount(const QModelIndex& parent = {}) const override {
        return parent.isValid() ? 0 : static_cast<int>(rows.size());
    }
    int columnCount(const QModelIndex& parent = {}) const override {
        return parent.isValid() ? 0 : static_cast<int>(headers_.size());
    }
    QVariant data(const QModelIndex& index, int role) const override {
        if (role != Qt::DisplayRole || !index.isValid())
            return {};
        const QStringList& row = rows[static_cast<std::size_t>(index.row())];
        return index.column() < row.size() ? row[index.column()] : QString();
    }
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override {
        if (role != Qt::DisplayRole || orientation != Qt::Horizontal)
            return {};
        return headers_.value(section);
    }

private:
    QStringList headers_;
};

QFont ListFont() {
    QFont font;
    font.setFamilies({QStringLiteral("MS Sans Serif"), QStringLiteral("Microsoft Sans Serif"),
                      QStringLiteral("Tahoma"), QStringLiteral("Arial"),
                      QStringLiteral("Liberation Sans"), QStringLiteral("Nimbus Sans")});
    font.setStyleHint(QFont::SansSerif);
    font.setPointSizeF(8.25);
    return font;
}

QTreeView* ListView(QWidget& window, RowsModel& model, QRect geometry,
                    std::initializer_list<int> widthsTwips) {
    auto* view = new QTreeView(&window);
    view->setGeometry(geometry);
    view->setModel(&model);
    view->setFont(ListFont());
    view->setRootIsDecorated(false);
    view->setUniformRowHeights(true);
    view->header()->setStretchLastSection(false);
    int column = 0;
    for (const int width : widthsTwips)
        view->header()->resizeSection(column++, width / 15);
    return view;
}

} // namespace

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    QSystemTrayIcon tray(QIcon(QStringLiteral(":/icons/zurodid-agent.png")));
    tray.setToolTip(QStringLiteral("Zurodid Agent"));
    tray.show();
    QWidget window;
    window.setWindowTitle(QStringLiteral("Zurodid Agent"));
    window.setFont(ListFont());
    window.setFixedSize(481, 313);
    RowsModel anniversaries(
        {QStringLiteral("No."), QStringLiteral("วันที่"), QStringLiteral("วันสำคัญ / Anniversary")},
        &window);
    RowsModel appointments({QStringLiteral("No."), QStringLiteral("วันที่"), QStringLiteral("เวลา"),
                            QStringLiteral("นัดหมาย / Appointment")},
                           &window);
    if (argc > 1) {
        QFile file(QString::fromLocal8Bit(argv[1]));
        if (file.open(QIODevice::ReadOnly)) {
            while (!file.atEnd()) {
                QStringList texts = QString::fromUtf8(file.readLine()).trimmed().split('\t');
                RowsModel& model =
                    texts.value(0) == QStringLiteral("A") ? anniversaries : appointments;
                texts[0] = QString::number(model.rows.size() + 1).rightJustified(3, '0');
                model.rows.push_back(std::move(texts));
            }
        }
    }
    ListView(window, anniversaries, {0, 0, 481, 113}, {500, 1300, 5100});
    ListView(window, appointments, {0, 112, 481, 201}, {500, 1300, 800, 4300});
    window.show();
    return QApplication::exec();
}
