#pragma once

#include <QDBusConnection>
#include <QDBusVirtualObject>
#include <QPointer>
#include <memory>

class QDBusAbstractAdaptor;

namespace zurodid {

// The Status of the StatusNotifierItem that Qt exports for the tray icon. Qt keeps it
// "Active" and offers no way to ask for attention (only a timed one, that also sends a
// notification of its own). This takes over the item's object on Qt's connection and answers
// as Qt's own item does, but for Status: every property, method and signal is Qt's.
class TrayItemStatus final : public QDBusVirtualObject {
    Q_OBJECT
public:
    // Null when the icon is not a StatusNotifierItem (an XEmbed tray), or when Qt's item is
    // not where this Qt version puts it.
    static std::unique_ptr<TrayItemStatus> TakeOverNewestItem();
    ~TrayItemStatus() override;

    void SetNeedsAttention(bool needsAttention);
    QString Status() const;

    QString introspect(const QString& path) const override;
    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override;

private slots:
    void Relay();

private:
    TrayItemStatus(QDBusConnection connection, QObject* item, QDBusAbstractAdaptor* adaptor);

    QDBusConnection connection_;
    QPointer<QObject> item_;
    QPointer<QDBusAbstractAdaptor> adaptor_;
    bool needsAttention_ = false;
};

} // namespace zurodid
