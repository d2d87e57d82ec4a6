#include "PictureComposer.h"

#include "ScopeFrame.h"

#include <algorithm>

using namespace WaveformGeometry;

void PictureComposer::adopt(const PictureLook &look, int width, int height)
{
    clear();
    Look = look;
    Geometry = PictureGeometry::of(width, height, look.widestPen());
}

void PictureComposer::clear()
{
    Layer.clear();
    Lines.clear();
    Targets = {};
}

void PictureComposer::relabel(std::int64_t from, std::int64_t to)
{
    for (TargetState &state : Targets)
        if (from != 0 && state.Key == from)
            state.Key = to;
}

PictureComposer::TargetState &PictureComposer::stateFor(std::int64_t key)
{
    auto found = std::find_if(Targets.begin(), Targets.end(),
                              [&](const TargetState &state) { return state.Key == key; });
    if (key == 0 || found == Targets.end()) {
        found = Targets.end() - 1;
        *found = {};
    }
    std::rotate(Targets.begin(), found, found + 1);
    return Targets.front();
}

void PictureComposer::renderDirect(const PixelRows &target, PicturePainter &painter,
                                   const PictureLook &look, const PictureGeometry &geometry,
                                   const ScopeFrame &frame, const OverlayLines &texts)
{
    if (target.empty())
        return;
    painter.drawLayer(target, geometry);
    if (geometry.empty())
        return;
    const TraceShape::Segments segments = TraceShape::segments(frame);
    if (look.OwnTrace)
        TraceShape::draw(target, segments, geometry, look.TracePen, look.TraceColour);
    else
        painter.drawTrace(target, segments, geometry);
    for (int line = 0; line < TextLineCount; ++line)
        painter.drawText(target, 0, 0, geometry, line, texts[std::size_t(line)]);
}

PixelRect PictureComposer::renderWhole(const PixelRows &target, PicturePainter &painter,
                                       const ScopeFrame &frame, const OverlayLines &texts,
                                       ChangedRegion &changed)
{
    renderDirect(target, painter, Look, Geometry, frame, texts);
    Targets.front().Key = 0;
    changed.add(target.rect());
    return target.rect();
}

PixelRect PictureComposer::render(const PixelRows &target, std::int64_t key,
                                  PicturePainter &painter, const ScopeFrame &frame,
                                  const OverlayLines &texts, ChangedRegion &changed)
{
    changed.clear();
    if (target.empty())
        return {};
    if (target.Width != Geometry.Width || target.Height != Geometry.Height)
        adopt(Look, target.Width, target.Height);
    TargetState &state = stateFor(key);
    if (Geometry.empty() || !Look.PlainBackground)
        return renderWhole(target, painter, frame, texts, changed);

    std::array<const LineImage *, TextLineCount> lines {};
    // Below a quarter of the logical size a toolkit's glyphs no longer scale with the picture:
    // GDI+ was seen to ink them outside the band drawn to find them.
    bool apart = Geometry.TextColumn < target.Width && Geometry.Fit.Width * 4 >= LogicalWidth;
    for (std::size_t line = 0; line < lines.size() && apart; ++line) {
        lines[line] = &Lines.image(int(line), texts[line], painter, Geometry, Look.Background);
        apart = !lines[line]->Spills;
        for (std::size_t other = 0; other < line && apart; ++other)
            apart = !lines[line]->Ink.intersects(lines[other]->Ink);
    }
    if (!apart)
        return renderWhole(target, painter, frame, texts, changed);

    const bool intact = state.Key != 0;
    PixelRect bounds;
    if (!intact) {
        if (Layer.empty()) {
            painter.drawLayer(target, Geometry);
            const double halfPen = std::max(Look.GraticulePen, 1.0) / 2;
            if (!Layer.capture(target, Geometry, Look.Background, halfPen))
                return renderWhole(target, painter, frame, texts, changed);
        } else {
            Layer.putBack(target);
        }
        for (const LineImage *line : lines)
            line->placeInto(target);
        bounds = target.rect();
    } else {
        bounds = Layer.restore(target, state.TraceArea);
        changed.addRuns(state.TraceArea);
        for (std::size_t line = 0; line < lines.size(); ++line)
            if (state.Texts[line] != lines[line]->Text) {
                fillPixels(target, state.Inks[line], Look.Background);
                const PixelRect both = state.Inks[line].united(lines[line]->Ink);
                bounds = bounds.united(both);
                changed.add(both);
            }
        // After every old text is gone: a new line's ink may reach where another's was.
        for (std::size_t line = 0; line < lines.size(); ++line)
            if (state.Texts[line] != lines[line]->Text)
                lines[line]->placeInto(target);
    }
    for (std::size_t line = 0; line < lines.size(); ++line) {
        state.Texts[line] = lines[line]->Text;
        state.Inks[line] = lines[line]->Ink;
    }

    const TraceShape::Segments segments = TraceShape::segments(frame);
    if (Look.OwnTrace)
        TraceShape::draw(target, segments, Geometry, Look.TracePen, Look.TraceColour);
    else
        painter.drawTrace(target, segments, Geometry);
    state.TraceArea =
        TraceShape::strips(segments, Geometry, Look.TracePen, Look.OwnTrace, Layer.rect());
    for (const PixelRect &rect : state.TraceArea)
        bounds = bounds.united(rect);
    if (intact) {
        changed.addRuns(state.TraceArea);
        changed.settle();
    } else {
        changed.add(bounds);
    }
    state.Key = key;
    return bounds;
}
