#include "platform/win32/chamadas_win32.hpp"

namespace plat::win32 {

Chamadas chamadas = {::ReadFile,       ::WriteFile,      ::GetOverlappedResult, ::WaitCommEvent,
                     ::CancelIoEx,     ::ClearCommError, ::GetCommState,        ::SetCommState,
                     ::GetConsoleMode, ::SetConsoleMode, ::PeekConsoleInputA,   ::ReadConsoleInputA};

}  // namespace plat::win32
