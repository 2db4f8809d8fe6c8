#pragma once
// Small rules of the English the engine's messages are made of.
#include <QString>

// The phrase after its indefinite article, "a" or "an" by how its first word is spoken: "an"
// before a vowel, and before an abbreviation whose first letter is spoken with one ("an MP4
// file", "an avi file", "an MPEG-TS file", "a Matroska file", "a WebM file"). `capital`
// starts it with "A"/"An", for the start of a sentence.
QString withArticle(const QString& phrase, bool capital = false);
