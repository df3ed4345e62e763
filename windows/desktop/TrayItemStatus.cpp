#include "windows/desktop/TrayItemStatus.h"

#include <QCoreApplication>
#include <QDBusAbstractAdaptor>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QMetaMethod>
#include <QMetaProperty>
#include <QVariantMap>

namespace zurodid {
namespace {

const QString kItemPath = QStringLiteral("/StatusNotifierItem");
const QString kItemInterface = QStringLiteral("org.kde.StatusNotifierItem");
const QString kProperties = QStringLiteral("org.freedesktop.DBus.Properties");
const QString kIntrospectable = QStringLiteral("org.freedesktop.DBus.Introspectable");
// Qt names the connection of each tray icon it exports after the process and a count.
constexpr int kItemsLookedAt = 64;

QString ClassInfo(const QObject& object, const char* name) {
    const QMetaObject* meta = object.metaObject();
    const int index = meta->indexOfClassInfo(name);
    return index < 0 ? QString() : QString::fromUtf8(meta->classInfo(index).value());
}

} // namespace

std::unique_ptr<TrayItemStatus> TrayItemStatus::TakeOverNewestItem() {
    for (int count = kItemsLookedAt; count >= 1; --count) {
        QDBusConnection connection(QStringLiteral("org.kde.StatusNotifierItem-%1-%2")
                                       .arg(QCoreApplication::applicationPid())
                                       .arg(count));
        if (!connection.isConnected())
            continue;
        QObject* item = connection.objectRegisteredAt(kItemPath);
        if (!item)
            continue;
        for (auto* adaptor : item->findChildren<QDBusAbstractAdaptor*>(Qt::FindDirectChildrenOnly))
            if (ClassInfo(*adaptor, "D-Bus Interface") == kItemInterface)
                return std::unique_ptr<TrayItemStatus>(
                    new TrayItemStatus(connection, item, adaptor));
        return nullptr;
    }
    return nullptr;
}

TrayItemStatus::TrayItemStatus(QDBusConnection connection, QObject* item,
                               QDBusAbstractAdaptor* adaptor)
    : connection_(std::move(connection)), item_(item), adaptor_(adaptor) {
    connection_.unregisterObject(kItemPath);
    connection_.registerVirtualObject(kItemPath, this);
    // Qt's item tells its changes through its adaptor; unregistered, nobody carries them.
    const QMetaObject* meta = adaptor->metaObject();
    const QMetaMethod relay = metaObject()->method(metaObject()->indexOfSlot("Relay()"));
    for (int i = meta->methodOffset(); i < meta->methodCount(); ++i)
        if (meta->method(i).methodType() == QMetaMethod::Signal)
            connect(adaptor, meta->method(i), this, relay);
}

TrayItemStatus::~TrayItemStatus() {
    // Qt's item answers for itself again.
    connection_.unregisterObject(kItemPath);
    if (item_)
        connection_.registerObject(kItemPath, item_);
}

QString TrayItemStatus::Status() const {
    if (needsAttention_)
        return QStringLiteral("NeedsAttention");
    return adaptor_ ? adaptor_->property("Status").toString() : QStringLiteral("Active");
}

void TrayItemStatus::SetNeedsAttention(bool needsAttention) {
    if (needsAttention_ == needsAttention)
        return;
    needsAttention_ = needsAttention;
    QDBusMessage signal =
        QDBusMessage::createSignal(kItemPath, kItemInterface, QStringLiteral("NewStatus"));
    signal << Status();
    connection_.send(signal);
}

void TrayItemStatus::Relay() {
    if (!sender())
        return;
    const QByteArray name = sender()->metaObject()->method(senderSignalIndex()).name();
    QDBusMessage signal =
        QDBusMessage::createSignal(kItemPath, kItemInterface, QString::fromLatin1(name));
    if (name == "NewStatus")
        signal << Status();
    connection_.send(signal);
}

QString TrayItemStatus::introspect(const QString&) const {
    return adaptor_ ? ClassInfo(*adaptor_, "D-Bus Introspection") : QString();
}

bool TrayItemStatus::handleMessage(const QDBusMessage& message, const QDBusConnection& connection) {
    if (!adaptor_ || message.path() != kItemPath)
        return false;
    const QList<QVariant> arguments = message.arguments();
    auto value = [this](const QString& name) {
        return name == QLatin1String("Status") ? QVariant(Status())
                                               : adaptor_->property(name.toLatin1().constData());
    };
    if (message.interface() == kProperties) {
        if (message.member() == QLatin1String("Get") && arguments.size() == 2) {
            const QVariant property = value(arguments.at(1).toString());
            if (!property.isValid())
                return false;
            connection.send(message.createReply(QVariant::fromValue(QDBusVariant(property))));
            return true;
        }
        if (message.member() == QLatin1String("GetAll")) {
            QVariantMap all;
            const QMetaObject* meta = adaptor_->metaObject();
            for (int i = meta->propertyOffset(); i < meta->propertyCount(); ++i) {
                const QString name = QString::fromLatin1(meta->property(i).name());
                all.insert(name, value(name));
            }
            connection.send(message.createReply(QVariant(all)));
            return true;
        }
        return false;
    }
    if (message.interface() != kItemInterface && !message.interface().isEmpty())
        return false;
    // The item's methods (Activate, ContextMenu, Scroll, ...) go to Qt's item as they came.
    const QMetaObject* meta = adaptor_->metaObject();
    for (int i = meta->methodOffset(); i < meta->methodCount(); ++i) {
        const QMetaMethod method = meta->method(i);
        if (method.methodType() != QMetaMethod::Slot ||
            method.name() != message.member().toLatin1() ||
            method.parameterCount() != arguments.size() || arguments.size() > 2)
            continue;
        QVariant converted[2];
        QGenericArgument passed[2];
        for (int p = 0; p < static_cast<int>(arguments.size()); ++p) {
            converted[p] = arguments.at(p);
            if (!converted[p].convert(method.parameterMetaType(p)))
                return false;
            passed[p] =
                QGenericArgument(method.parameterTypeName(p).constData(), converted[p].constData());
        }
        method.invoke(adaptor_, Qt::DirectConnection, passed[0], passed[1]);
        if (!message.isReplyRequired())
            return true;
        connection.send(message.createReply());
        return true;
    }
    return false;
}

} // namespace zurodid
