#pragma once

#include "RenderLoop.h"
#include "ScopeFrame.h"

#include <mutex>

class SerialReceiver;

// What a pass copies from the receiver: the latest frame, and for the overlay's first line
// whether acquisition runs and on which port.
struct FrameSnapshot
{
    ScopeFrame Frame;
    bool Running = false;
    int Port = -1;

    // Takes the frame as well when withFrame; a null receiver gives a stopped one.
    void takeFrom(const SerialReceiver *receiver, bool withFrame);
};

// Everything a view's render uses, shared by the window's thread and the RenderThread: the
// steps of a pass in the order and under the locks both front-ends use. A view derives its
// drawing objects and pictures from it; the thread co-owns it, so a thread abandoned in the
// middle of a render finishes with objects that are still there.
class RenderCanvas : public RenderLoop::Client
{
public:
    explicit RenderCanvas(const SerialReceiver *receiver)
        : Receiver(receiver)
    { }

    // On the window's thread: draws DisplayFrame with the receiver's state now and hands the
    // picture over; the caller asks for the repaint.
    void renderNow();

protected:
    // Both with ViewLock held. draw() renders DisplayFrame into the BackBuffer; handOver() gives
    // what it drew to the picture a paint copies.
    virtual void draw() = 0;
    virtual void handOver() = 0;
    // On the RenderThread, without ViewLock: asks the window's thread for a repaint.
    virtual void askRepaint() = 0;

    // Guards the BackBuffer, the drawing objects, DisplayFrame and whatever the view adds: renders
    // on the two threads never interleave.
    std::mutex ViewLock;
    FrameSnapshot DisplayFrame;

private:
    void copyFrame() final;
    void render() final;
    void requestRepaint() final;

    const SerialReceiver *const Receiver;
};
