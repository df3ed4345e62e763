#include "windows/desktop/ReminderNotice.h"

#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QStringList>
#include <QThread>
#include <QVariantMap>
#include <algorithm>

namespace zurodid {
namespace {

const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
const QString kInterface = QStringLiteral("org.freedesktop.Notifications");
constexpr int kPictureSide = 64;

// Reasons of NotificationClosed.
constexpr uint kDismissedByUser = 2;
constexpr uint kTakenBack = 3; // by CloseNotification

// The "image-data" hint: width, height, row stride, alpha, bits per sample, channels, RGBA bytes.
struct NoticePicture {
    QImage image;
};

QDBusArgument& operator<<(QDBusArgument& out, const NoticePicture& picture) {
    const QImage& image = picture.image;
    out.beginStructure();
    out << image.width() << image.height() << static_cast<int>(image.bytesPerLine()) << true << 8
        << 4
        << QByteArray(reinterpret_cast<const char*>(image.constBits()),
                      static_cast<qsizetype>(image.sizeInBytes()));
    out.endStructure();
    return out;
}

const QDBusArgument& operator>>(const QDBusArgument& in, NoticePicture&) {
    return in; // only sent
}

QDBusMessage Call(const QString& method) {
    return QDBusMessage::createMethodCall(kService, kPath, kInterface, method);
}

QString PlainForMarkup(const QString& text) {
    return text.toHtmlEscaped();
}

} // namespace
} // namespace zurodid

Q_DECLARE_METATYPE(zurodid::NoticePicture)

namespace zurodid {

ReminderNotice::ReminderNotice(QObject* parent) : QObject(parent) {
    deadline_.setSingleShot(true);
    connect(&deadline_, &QTimer::timeout, this, [this] {
        GiveUp(QStringLiteral("the desktop's notification service did not answer within %1 s")
                   .arg(static_cast<double>(deadline_.interval()) / 1000.0));
    });
}

ReminderNotice::~ReminderNotice() {
    Forget();
    Withdraw();
}

void ReminderNotice::Show(const QString& title, const QString& text, const QString& iconName,
                          const QImage& picture, std::chrono::milliseconds answerWithin) {
    title_ = title;
    text_ = text;
    iconName_ = iconName;
    picture_ = picture.isNull() ? QImage()
                                : picture
                                      .scaled(kPictureSide, kPictureSide, Qt::KeepAspectRatio,
                                              Qt::SmoothTransformation)
                                      .convertToFormat(QImage::Format_RGBA8888);
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        // Queued: the caller has connected to Failed only after Show returns.
        QMetaObject::invokeMethod(
            this, [this] { emit Failed(QString()); }, Qt::QueuedConnection);
        return;
    }
    // Before the notification exists, so that no quick answer of the person is missed.
    if (!subscribed_) {
        subscribed_ = bus.connect(kService, kPath, kInterface, QStringLiteral("ActionInvoked"),
                                  this, SLOT(OnActionInvoked(uint, QString))) &&
                      bus.connect(kService, kPath, kInterface, QStringLiteral("NotificationClosed"),
                                  this, SLOT(OnClosed(uint, uint)));
    }
    deadline_.start(static_cast<int>(answerWithin.count()));
    // The body may be read as markup; the service says whether it is.
    // The calls keep D-Bus's own timeout: the deadline gives up on them, and an answer that
    // comes later is still heard.
    pending_ =
        new QDBusPendingCallWatcher(bus.asyncCall(Call(QStringLiteral("GetCapabilities"))), this);
    connect(pending_, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* w) {
        QDBusPendingReply<QStringList> reply = *w;
        w->deleteLater();
        pending_ = nullptr;
        if (reply.isError()) {
            GiveUp(QStringLiteral("no notification service answers (%1)")
                       .arg(reply.error().message()));
            return;
        }
        Notify(reply.value().contains(QStringLiteral("body-markup")));
    });
}

void ReminderNotice::Notify(bool markup) {
    static const QMetaType pictureType = qDBusRegisterMetaType<NoticePicture>();
    Q_UNUSED(pictureType);
    QVariantMap hints;
    hints.insert(QStringLiteral("urgency"), QVariant::fromValue<uchar>(2)); // critical
    hints.insert(QStringLiteral("resident"), true);
    if (!QGuiApplication::desktopFileName().isEmpty())
        hints.insert(QStringLiteral("desktop-entry"), QGuiApplication::desktopFileName());
    if (!picture_.isNull())
        hints.insert(QStringLiteral("image-data"), QVariant::fromValue(NoticePicture{picture_}));
    QDBusMessage notify = Call(QStringLiteral("Notify"));
    notify << title_ << uint{0} << iconName_ << title_ << (markup ? PlainForMarkup(text_) : text_)
           << QStringList{QString::fromLatin1(kOpenAction), tr("Open")} << hints
           << int{0}; // never expires
    pending_ = new QDBusPendingCallWatcher(QDBusConnection::sessionBus().asyncCall(notify), this);
    notifying_ = true;
    connect(pending_, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* w) {
        QDBusPendingReply<uint> reply = *w;
        w->deleteLater();
        pending_ = nullptr;
        notifying_ = false;
        if (reply.isError() || reply.value() == 0) {
            GiveUp(QStringLiteral("the desktop's notification service refused it (%1)")
                       .arg(reply.error().message()));
            return;
        }
        deadline_.stop();
        id_ = reply.value();
        emit Shown();
    });
}

void ReminderNotice::GiveUp(const QString& why) {
    deadline_.stop();
    if (pending_) {
        // An answer that comes after all must not leave an orphan in the desktop's list.
        pending_->disconnect(this);
        pending_->setParent(QCoreApplication::instance());
        connect(pending_, &QDBusPendingCallWatcher::finished, pending_,
                [](QDBusPendingCallWatcher* w) {
                    QDBusPendingReply<uint> late = *w;
                    if (!late.isError())
                        QDBusConnection::sessionBus().send(Call(QStringLiteral("CloseNotification"))
                                                           << late.value());
                    w->deleteLater();
                });
        pending_ = nullptr;
    }
    notifying_ = false;
    emit Failed(why);
}

void ReminderNotice::Forget() {
    deadline_.stop();
    if (pending_) {
        pending_->disconnect(this);
        pending_->deleteLater();
        pending_ = nullptr;
    }
    notifying_ = false;
}

void ReminderNotice::Withdraw() {
    if (id_ == 0)
        return;
    QDBusConnection::sessionBus().send(Call(QStringLiteral("CloseNotification")) << id_);
    id_ = 0;
}

void ReminderNotice::WithdrawBeforeLeaving(std::chrono::milliseconds within) {
    QElapsedTimer waited;
    waited.start();
    if (id_ == 0 && pending_ && notifying_) {
        // A Notify not answered yet may still put the notification up. The answer is read
        // on D-Bus's own thread; this one only looks.
        while (!pending_->isFinished() && waited.elapsed() < within.count())
            QThread::msleep(5);
        if (pending_->isFinished()) {
            const QDBusPendingReply<uint> reply = *pending_;
            if (!reply.isError())
                id_ = reply.value();
        }
    }
    if (id_ == 0)
        return;
    // A message only queued would die with the process.
    const auto left = std::max<qint64>(within.count() - waited.elapsed(), 1);
    QDBusConnection::sessionBus().call(Call(QStringLiteral("CloseNotification")) << id_,
                                       QDBus::Block, static_cast<int>(left));
    id_ = 0;
}

void ReminderNotice::OnActionInvoked(uint id, const QString& action) {
    if (id == 0 || id != id_ || action != QLatin1String(kOpenAction))
        return;
    emit Opened();
}

void ReminderNotice::OnClosed(uint id, uint reason) {
    if (id == 0 || id != id_)
        return;
    id_ = 0;
    if (reason == kDismissedByUser)
        emit Dismissed();
    else if (reason != kTakenBack)
        emit Expired();
}

} // namespace zurodid
