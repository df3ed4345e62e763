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
    std::unique_lock lock(shared_->mutex);
    shared_->stopping = true;
    shared_->wake.notify_one();
    // A server that does not answer holds the thread in libcanberra: the agent leaves anyway.
    if (shared_->wake.wait_for(lock, std::chrono::seconds{1},
                               [this] { return shared_->finished; })) {
        lock.unlock();
        worker_.join();
    } else {
        worker_.detach();
    }
}

void EventSound::Play(std::string eventId) {
    // The worker is made at the first sound: a start, and a day without a reminder, need none.
    if (!worker_.joinable()) {
        try {
            worker_ = std::thread([this, shared = shared_] { Serve(shared); });
        } catch (const std::system_error& error) {
            SayWhyNoSound(CA_ERROR_SYSTEM, QString::fromUtf8(error.what()));
            return;
        }
    }
    {
        std::lock_guard lock(shared_->mutex);
        shared_->queue.push_back(std::move(eventId));
    }
    shared_->wake.notify_one();
}

void EventSound::Report(Shared& shared, int error, const QString& why) {
    // Under the lock: the destructor cannot pass its own lock meanwhile, so `this` lives.
    std::lock_guard lock(shared.mutex);
    if (!shared.stopping)
        QMetaObject::invokeMethod(
            this, [this, error, why] { SayWhyNoSound(error, why); }, Qt::QueuedConnection);
}

void EventSound::Serve(const std::shared_ptr<Shared>& shared) {
    struct Finished {
        Shared& shared;
        ~Finished() {
            std::lock_guard lock(shared.mutex);
            shared.finished = true;
            shared.wake.notify_all();
        }
    } finished{*shared};
    Canberra canberra;
    std::optional<std::string> loadError; // none until the first sound asks for the library
    std::unique_ptr<ca_context, decltype(&ca_context_destroy)> context(nullptr, nullptr);
    int openError = CA_SUCCESS;
    for (;;) {
        std::string eventId;
        {
            std::unique_lock lock(shared->mutex);
            shared->wake.wait(lock, [&] { return shared->stopping || !shared->queue.empty(); });
            if (shared->stopping)
                return;
            eventId = std::move(shared->queue.front());
            shared->queue.pop_front();
        }
        if (!loadError)
            loadError = canberra.Load();
        if (!loadError->empty()) {
            Report(*shared, CA_ERROR_NOTAVAILABLE, QString::fromStdString(*loadError));
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
        if (error != CA_SUCCESS)
            Report(*shared, error, QString::fromUtf8(canberra.strerror(error)));
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
