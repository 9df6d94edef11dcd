#include "base/Errors.h"

#include <new>
#include <system_error>

namespace playctrl {

Error currentError() noexcept {
    try {
        throw;
    } catch (const EngineError &error) {
        return error.code;
    } catch (const std::bad_alloc &) {
        return kAllocMemory;
    } catch (const std::system_error &) {
        return kCreateThread; // a thread, lock or event the system would not give
    } catch (...) {
        return kOrderIncorrect;
    }
}

} // namespace playctrl
