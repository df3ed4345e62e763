#include "windows/desktop/EventSound.h"

#include "platform/Log.h"

#include <canberra.h>
#include <memory>

namespace zurodid {
namespace {

struct ContextDeleter {
    void operator()(ca_context* context) const { ca_context_destroy(context); }
};
using Context = std::unique_ptr<ca_context, ContextDeleter>;

} // namespace

EventSound::EventSound(QObject* parent) : QObject(parent) {
    worker_ = std::thread([this] { Serve(); });
}

EventSound::~EventSound() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_one();
    worker_.join();
}

void EventSound::Play(std::string eventId) {
    {
        std::lock_guard lock(mutex_);
        queue_.push_back(std::move(eventId));
    }
    wake_.notify_one();
}

void EventSound::Serve() {
    Context context;
    int openError = CA_SUCCESS;
    for (;;) {
        std::string eventId;
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
            if (stopping_)
                return;
            eventId = std::move(queue_.front());
            queue_.pop_front();
        }
        // Connected on the first sound, and again after a failure: a sound server started
        // after the agent (a late log-in service) is found at the next box.
        if (!context) {
            ca_context* made = nullptr;
            openError = ca_context_create(&made);
            context.reset(made);
            if (openError == CA_SUCCESS)
                openError = ca_context_change_props(context.get(), CA_PROP_APPLICATION_NAME,
                                                    "Zurodid Agent", CA_PROP_APPLICATION_ID,
                                                    "zurodid-agent", CA_PROP_APPLICATION_ICON_NAME,
                                                    "zurodid-agent", nullptr);
            if (openError == CA_SUCCESS)
                openError = ca_context_open(context.get());
        }
        int error = openError;
        if (error == CA_SUCCESS)
            error = ca_context_play(context.get(), 0, CA_PROP_EVENT_ID, eventId.c_str(),
                                    CA_PROP_EVENT_DESCRIPTION, "Reminder", nullptr);
        // A server that went away (restarted) is connected to afresh at the next box.
        if (openError != CA_SUCCESS || error == CA_ERROR_DISCONNECTED)
            context.reset();
        if (error != CA_SUCCESS) {
            const QString why = QString::fromUtf8(ca_strerror(error));
            QMetaObject::invokeMethod(
                this, [this, error, why] { SayWhyNoSound(error, why); }, Qt::QueuedConnection);
        }
    }
}

void EventSound::SayWhyNoSound(int error, const QString& why) {
    if (said_)
        return;
    said_ = true;
    LogFailure("playing the reminder box's sound, the boxes come without it", error,
               why.toStdString());
}

} // namespace zurodid
