#pragma once
// The packet indexes of the files the reader has open, for other parts of the engine that
// read the same file (the cut in the source's own format), so a file is indexed once. An
// index is found only while its reader keeps it and the file is unchanged since.
#include <QString>
#include <memory>

#include "engine/reader/PacketIndex.h"

void publishIndex(const QString& path, int videoStream, const std::shared_ptr<const PacketIndex>& index);
std::shared_ptr<const PacketIndex> publishedIndex(const QString& path, int videoStream);
