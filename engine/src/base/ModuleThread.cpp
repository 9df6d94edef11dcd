#include "base/ModuleThread.h"

#include "base/Errors.h"

#include "Owners.h"

namespace playctrl {

namespace {
thread_local LONG threadPort = -1;
} // namespace

void ModuleThread::start(LONG port, std::function<void()> body) {
    join();
    auto state = std::make_shared<State>();
    state->body = std::move(body);
    state->port = port;
    kestrava::ModuleRef module;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                            reinterpret_cast<LPCWSTR>(&ModuleThread::entry), module.out())) {
        throw EngineError{kCreateThread};
    }
    state->module = module.get();
    // The thread owns one reference to the state; the module reference goes with it.
    auto *owned = new std::shared_ptr<State>(state);
    DWORD id = 0;
    const kestrava::KernelHandle thread(
        CreateThread(nullptr, 0, &ModuleThread::entry, owned, 0, &id));
    if (!thread) {
        delete owned;
        throw EngineError{kCreateThread};
    }
    module.release(); // the thread gives it back as it ends
    state->id = id;
    state_ = std::move(state);
}

DWORD WINAPI ModuleThread::entry(void *param) {
    HMODULE module;
    {
        std::shared_ptr<State> state = std::move(*static_cast<std::shared_ptr<State> *>(param));
        delete static_cast<std::shared_ptr<State> *>(param);
        module = state->module;
        state->id = GetCurrentThreadId();
        threadPort = state->port;
        try {
            state->body();
        } catch (...) {
        }
        state->body = nullptr;
        std::lock_guard<std::mutex> lock(state->mutex);
        state->done = true;
        state->doneChanged.notify_all();
    }
    FreeLibraryAndExitThread(module, 0);
    return 0;
}

void ModuleThread::join() {
    if (!state_) {
        return;
    }
    if (state_->id != GetCurrentThreadId()) {
        std::unique_lock<std::mutex> lock(state_->mutex);
        state_->doneChanged.wait(lock, [this] { return state_->done; });
    }
    state_.reset();
}

bool ModuleThread::isCurrent() const {
    return state_ && state_->id == GetCurrentThreadId();
}

bool ModuleThread::running() const {
    if (!state_) {
        return false;
    }
    std::lock_guard<std::mutex> lock(state_->mutex);
    return !state_->done;
}

LONG ModuleThread::currentPort() {
    return threadPort;
}

} // namespace playctrl
