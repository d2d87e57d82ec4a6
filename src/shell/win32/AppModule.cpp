#include "AppModule.h"

CAppModule _Module;

int CMessageLoop::Run()
{
    bool doIdle = true;
    int idleCount = 0;
    for (;;) {
        while (doIdle && !::PeekMessageW(&Message, nullptr, 0, 0, PM_NOREMOVE)) {
            if (!OnIdle(idleCount++))
                doIdle = false;
        }
        const BOOL got = ::GetMessageW(&Message, nullptr, 0, 0);
        if (got == -1)
            continue;
        if (!got)
            break;
        if (!PreTranslateMessage(&Message)) {
            ::TranslateMessage(&Message);
            ::DispatchMessageW(&Message);
        }
        if (IsIdleMessage(Message)) {
            doIdle = true;
            idleCount = 0;
        }
    }
    return static_cast<int>(Message.wParam);
}

bool CMessageLoop::IsIdleMessage(const MSG &message)
{
    constexpr UINT SystemTimer = 0x0118;
    switch (message.message) {
    case WM_MOUSEMOVE:
    case WM_NCMOUSEMOVE:
    case WM_PAINT:
    case SystemTimer:
        return false;
    default:
        return true;
    }
}

BOOL CMessageLoop::PreTranslateMessage(MSG *message)
{
    for (auto filter = MessageFilters.rbegin(); filter != MessageFilters.rend(); ++filter)
        if ((*filter)->PreTranslateMessage(message))
            return TRUE;
    return FALSE;
}

BOOL CMessageLoop::OnIdle(int)
{
    for (CIdleHandler *handler : IdleHandlers)
        handler->OnIdle();
    // One pass per burst of messages; the handlers' answers do not ask for more.
    return FALSE;
}

HRESULT CAppModule::Init(HINSTANCE instance)
{
    Instance = instance;
    MainThreadId = ::GetCurrentThreadId();
    if (!LockReady) {
        ::InitializeCriticalSection(&Lock);
        LockReady = true;
    }
    return S_OK;
}

void CAppModule::Term()
{
    if (LockReady) {
        ::DeleteCriticalSection(&Lock);
        LockReady = false;
    }
    Loops.clear();
}

bool CAppModule::AddMessageLoop(CMessageLoop *loop)
{
    ::EnterCriticalSection(&Lock);
    const bool added = Loops.emplace(::GetCurrentThreadId(), loop).second;
    ::LeaveCriticalSection(&Lock);
    return added;
}

bool CAppModule::RemoveMessageLoop()
{
    ::EnterCriticalSection(&Lock);
    const bool removed = Loops.erase(::GetCurrentThreadId()) > 0;
    ::LeaveCriticalSection(&Lock);
    return removed;
}

CMessageLoop *CAppModule::GetMessageLoop(DWORD threadId)
{
    ::EnterCriticalSection(&Lock);
    const auto found = Loops.find(threadId);
    CMessageLoop *loop = found == Loops.end() ? nullptr : found->second;
    ::LeaveCriticalSection(&Lock);
    return loop;
}
