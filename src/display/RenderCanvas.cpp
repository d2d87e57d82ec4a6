#include "RenderCanvas.h"

#include "SerialReceiver.h"

void FrameSnapshot::takeFrom(const SerialReceiver *receiver, bool withFrame)
{
    if (receiver == nullptr) {
        Running = false;
        Port = -1;
        return;
    }
    if (withFrame)
        Frame.fillFrom(*receiver);
    Running = receiver->isRunning();
    Port = Running ? receiver->currentPort() : -1;
}

void RenderCanvas::renderNow()
{
    std::scoped_lock lock(ViewLock);
    DisplayFrame.takeFrom(Receiver, false);
    draw();
    handOver();
}

// Taken outside ViewLock, so the two locks are never held together.
void RenderCanvas::copyFrame()
{
    FrameSnapshot latest;
    latest.takeFrom(Receiver, true);
    std::scoped_lock lock(ViewLock);
    DisplayFrame = latest;
}

void RenderCanvas::render()
{
    std::scoped_lock lock(ViewLock);
    draw();
}

void RenderCanvas::requestRepaint()
{
    {
        std::scoped_lock lock(ViewLock);
        handOver();
    }
    askRepaint();
}
