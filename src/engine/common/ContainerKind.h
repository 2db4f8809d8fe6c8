#pragma once
#include <cstdint>

// Container kinds of the writer's CreateFile.
enum ContainerKind : int32_t { kContainerAvi = 1, kContainerMpeg = 2, kContainerWmv = 3 };
