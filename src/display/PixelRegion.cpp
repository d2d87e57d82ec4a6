#include "PixelRegion.h"

#include <algorithm>

PixelRect PixelRect::intersected(const PixelRect &other) const
{
    const PixelRect both {std::max(Left, other.Left), std::max(Top, other.Top),
                          std::min(Right, other.Right), std::min(Bottom, other.Bottom)};
    return both.empty() ? PixelRect {} : both;
}

PixelRect PixelRect::united(const PixelRect &other) const
{
    if (other.empty())
        return *this;
    if (empty())
        return other;
    return {std::min(Left, other.Left), std::min(Top, other.Top), std::max(Right, other.Right),
            std::max(Bottom, other.Bottom)};
}

bool ChangedRegion::worthKeeping(std::size_t pieces, std::int64_t covered, std::int64_t boundsArea)
{
    return pieces <= MostPieces && covered * WorthDenominator < boundsArea * WorthNumerator;
}

void ChangedRegion::add(const PixelRect &rect)
{
    if (rect.empty())
        return;
    Rects.push_back(rect);
    Bounds = Bounds.united(rect);
}

void ChangedRegion::addRuns(const std::vector<PixelRect> &rects)
{
    if (rects.size() <= FewRuns) {
        for (const PixelRect &rect : rects)
            add(rect);
        return;
    }
    for (std::size_t run = 0; run < FewRuns; ++run) {
        PixelRect bounds;
        for (std::size_t k = rects.size() * run / FewRuns; k < rects.size() * (run + 1) / FewRuns;
             ++k)
            bounds = bounds.united(rects[k]);
        add(bounds);
    }
}

void ChangedRegion::clear()
{
    Rects.clear();
    Bounds = {};
}

void ChangedRegion::settle()
{
    if (Rects.size() > 1 && !worthKeeping(Rects.size(), coveredArea(), Bounds.area()))
        Rects.assign(1, Bounds);
}

// Swept band by band between the rectangles' top and bottom edges; within a band the covering
// rectangles' column spans are merged. A region has a few dozen rectangles at most.
std::int64_t ChangedRegion::coveredArea() const
{
    std::vector<int> edges;
    edges.reserve(Rects.size() * 2);
    for (const PixelRect &rect : Rects) {
        edges.push_back(rect.Top);
        edges.push_back(rect.Bottom);
    }
    std::sort(edges.begin(), edges.end());
    edges.erase(std::unique(edges.begin(), edges.end()), edges.end());
    std::vector<std::pair<int, int>> spans;
    std::int64_t covered = 0;
    for (std::size_t band = 0; band + 1 < edges.size(); ++band) {
        spans.clear();
        for (const PixelRect &rect : Rects)
            if (rect.Top <= edges[band] && rect.Bottom >= edges[band + 1])
                spans.emplace_back(rect.Left, rect.Right);
        std::sort(spans.begin(), spans.end());
        std::int64_t width = 0;
        int reached = 0;
        bool started = false;
        for (const auto &[left, right] : spans) {
            const int from = started ? std::max(left, reached) : left;
            if (right > from)
                width += right - from;
            reached = started ? std::max(reached, right) : right;
            started = true;
        }
        covered += width * (edges[band + 1] - edges[band]);
    }
    return covered;
}
