#include "windows/desktop/EventSound.h"

#include "platform/Log.h"

#include <canberra.h>
#include <dlfcn.h>
#include <memory>
#include <optional>
#include <system_error>
#include <type_traits>

namespace zurodid {
namespace {

// libcanberra, loaded by the worker at the first sound: it brings half a dozen libraries of
// its own (Vorbis, Ogg, ltdl, tdb) that a start without a reminder has no use for.
struct Canberra {
    decltype(&ca_context_create) create = nullptr;
    decltype(&ca_context_destroy) destroy = nullptr;
    decltype(&ca_context_change_props) changeProps = nullptr;
    decltype(&ca_context_open) open = nullptr;
    decltype(&ca_context_play) play = nullptr;
    decltype(&ca_strerror) strerror = nullptr;

    // Empty when loaded, else why not.
    std::string Load() {
        void* library = dlopen("libcanberra.so.0", RTLD_NOW | RTLD_LOCAL);
        if (!library)
            return dlerror();
        auto find = [library](auto& function, const char* name) {
            function =
                reinterpret_cast<std::remove_reference_t<decltype(function)>>(dlsym(library, name));
            return function != nullptr;
        };
        if (find(create, "ca_context_create") && find(destroy, "ca_context_destroy") &&
            find(changeProps, "ca_context_change_props") && find(open, "ca_context_open") &&
            find(play, "ca_context_play") && find(strerror, "ca_strerror"))
            return {};
        return "libcanberra.so.0 lacks a function the agent uses";
    }
};

} // namespace

EventSound::EventSound(QObject* parent) : QObject(parent) {}

EventSound::~EventSound() {
    if (!worker_.joinable())
        return;
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_one();
    worker_.join();
}

void EventSound::Play(std::string eventId) {
    // The worker is made at the first sound: a start, and a day without a reminder, need none.
    if (!worker_.joinable()) {
        try {
            worker_ = std::thread([this] { Serve(); });
        } catch (const std::system_error& error) {
            SayWhyNoSound(CA_ERROR_SYSTEM, QString::fromUtf8(error.what()));
            return;
        }
    }
    {
        std::lock_guard lock(mutex_);
        queue_.push_back(std::move(eventId));
    }
    wake_.notify_one();
}

void EventSound::Serve() {
    Canberra canberra;
    std::optional<std::string> loadError; // none until the first sound asks for the library
    std::unique_ptr<ca_context, decltype(&ca_context_destroy)> context(nullptr, nullptr);
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
        if (!loadError)
            loadError = canberra.Load();
        if (!loadError->empty()) {
            const QString why = QString::fromStdString(*loadError);
            QMetaObject::invokeMethod(
                this, [this, why] { SayWhyNoSound(CA_ERROR_NOTAVAILABLE, why); },
                Qt::QueuedConnection);
            continue;
        }
        // Connected on the first sound, and again after a failure: a sound server started
        // after the agent (a late log-in service) is found at the next box.
        if (!context) {
            ca_context* made = nullptr;
            openError = canberra.create(&made);
            context = {made, canberra.destroy};
            if (openError == CA_SUCCESS)
                openError =
                    canberra.changeProps(context.get(), CA_PROP_APPLICATION_NAME, "Zurodid Agent",
                                         CA_PROP_APPLICATION_ID, "zurodid-agent",
                                         CA_PROP_APPLICATION_ICON_NAME, "zurodid-agent", nullptr);
            if (openError == CA_SUCCESS)
                openError = canberra.open(context.get());
        }
        int error = openError;
        if (error == CA_SUCCESS)
            error = canberra.play(context.get(), 0, CA_PROP_EVENT_ID, eventId.c_str(),
                                  CA_PROP_EVENT_DESCRIPTION, "Reminder", nullptr);
        // A server that went away (restarted) is connected to afresh at the next box.
        if (openError != CA_SUCCESS || error == CA_ERROR_DISCONNECTED)
            context.reset();
        if (error != CA_SUCCESS) {
            const QString why = QString::fromUtf8(canberra.strerror(error));
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
