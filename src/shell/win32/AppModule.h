#pragma once

#include <windows.h>

#include <map>
#include <vector>

// Offered every message the loop retrieves before it is translated and dispatched.
class CMessageFilter
{
public:
    virtual BOOL PreTranslateMessage(MSG *message) = 0;

protected:
    ~CMessageFilter() = default;
};

// Called when the queue has run empty after a message that may have changed what is shown.
class CIdleHandler
{
public:
    virtual BOOL OnIdle() = 0;

protected:
    ~CIdleHandler() = default;
};

// The message loop of one user interface thread, with its filters and idle handlers (not owned).
class CMessageLoop
{
public:
    virtual ~CMessageLoop() = default;

    void AddMessageFilter(CMessageFilter *filter) { MessageFilters.push_back(filter); }
    void AddIdleHandler(CIdleHandler *handler) { IdleHandlers.push_back(handler); }

    // Runs until WM_QUIT arrives; answers its exit code.
    int Run();

    // Whether the message may have changed what the idle handlers keep up to date.
    static bool IsIdleMessage(const MSG &message);

    virtual BOOL PreTranslateMessage(MSG *message);
    virtual BOOL OnIdle(int idleCount);

private:
    std::vector<CMessageFilter *> MessageFilters;
    std::vector<CIdleHandler *> IdleHandlers;
    MSG Message {};
};

// The process's module: its instance, from which every resource is loaded, and the loop of each
// user interface thread.
class CAppModule
{
public:
    HRESULT Init(HINSTANCE instance);
    void Term();

    HINSTANCE GetModuleInstance() const { return Instance; }
    HINSTANCE GetResourceInstance() const { return Instance; }

    bool AddMessageLoop(CMessageLoop *loop);
    bool RemoveMessageLoop();
    CMessageLoop *GetMessageLoop(DWORD threadId = ::GetCurrentThreadId());

private:
    HINSTANCE Instance = nullptr;
    DWORD MainThreadId = 0;
    CRITICAL_SECTION Lock {};
    bool LockReady = false;
    std::map<DWORD, CMessageLoop *> Loops;
};

extern CAppModule _Module;
