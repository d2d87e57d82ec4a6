#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// Draws wide straight lines with flat ends, anti-aliased, into 32-bit pixels, one line after
// another, each blended over what is already there.
//
// A line is the rectangle of the pen's width around it in logical units; the scale to device
// pixels, which may differ between the axes, turns that rectangle into a parallelogram. Each
// pixel takes the line's colour in proportion to the exact area of the pixel the parallelogram
// covers, so the picture is the same whatever the scales and wherever the line lies.
//
// A pen never comes out thinner than a device pixel: along an axis where its scaled width falls
// below one pixel it is drawn one pixel wide, as a hairline, so that a small picture keeps a trace
// as bright as a large one's.
//
// Whatever finite numbers it is given, no pixel outside the picture is touched. A line with an
// end beyond the picture's reach is first clipped to it in logical space, so even ends whose
// device coordinates would overflow are drawn where the line crosses the picture. A pen is drawn
// at most 2^33 device pixels wide.
class TraceRasteriser
{
public:
    // Pixels as 0xAARRGGBB words, premultiplied (or opaque, alpha 0xFF); the stride in pixels.
    // Pixel (i, j) is the unit square [i, i + 1] x [j, j + 1] of device space.
    struct Pixels
    {
        std::uint32_t *Bits = nullptr;
        std::ptrdiff_t Stride = 0;
        int Width = 0;
        int Height = 0;
    };

    struct Segment
    {
        double X1 = 0;
        double Y1 = 0;
        double X2 = 0;
        double Y2 = 0;
    };

    // The logical point (x, y) lands on the device point (x * scaleX + offsetX,
    // y * scaleY + offsetY). The colour is opaque 0xRRGGBB; its alpha byte is ignored.
    TraceRasteriser(double scaleX, double scaleY, double offsetX, double offsetY, double penWidth,
                    std::uint32_t colour);

    void draw(const Pixels &pixels, const Segment *segments, std::size_t count);

private:
    struct Edge
    {
        double Top = 0;
        double Bottom = 0;
        double X = 0; // at Top
        double Slope = 0; // dx/dy
        double Left = 0; // the least and greatest x the edge reaches
        double Right = 0;
        double Sign = 0; // +1 going down the picture, -1 going up
    };

    void drawSegment(const Pixels &pixels, const Segment &segment);
    void generalRow(const Pixels &pixels, int j, const Edge *edges, int edgeCount);
    void addPiece(double xa, double xb, double height, int width);
    void blendRow(std::uint32_t *row, int first, int last);

    double ScaleX;
    double ScaleY;
    double OffsetX;
    double OffsetY;
    // Half the pen's width in device pixels along each axis, at least half a pixel.
    double HalfWidthX;
    double HalfWidthY;
    std::uint32_t Colour;
    // Scales and offsets that are all finite: otherwise nothing is drawn.
    bool Finite;
    // Per column of the current row, the change of signed coverage from the column before;
    // zero outside the row being drawn.
    std::vector<double> Cells;
    int CellFirst = 0;
    int CellLast = -1;
};
