#pragma once
#include <QByteArray>

// A decoded picture as one byte array: a small header followed by the planes in the
// decoder's own pixel layout. The reader produces it; the view, the picture writer and the
// output writer receive nothing else about the picture. An empty array means "no frame".
// (Its layout and the functions that read it are in FrameData.h.)
using FrameData = QByteArray;
