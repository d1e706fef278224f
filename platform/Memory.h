#pragma once

// Memory facts and helpers for big pixel buffers.

#include <cstddef>
#include <cstdint>

// Bytes this process can still be given without them being swapped out or the
// process being ended for want of memory: the system's available memory and
// free swap, bounded by what the memory limit of the process's control group
// leaves. The largest value when the system tells nothing.
uint64_t AvailableMemory() noexcept;

// Whether Bytes of fresh memory can be had: always for sizes below 256 MiB
// (not worth reading the system's figures), else when AvailableMemory() holds
// them. Linux grants more and ends the process once the pages are touched.
bool MemoryCanBeHad(uint64_t Bytes) noexcept;

// Sets Size bytes at Data to 0. The whole pages inside a big range are handed
// back to the system instead of written (they read as 0 again), so zeroing
// what a short file left unfilled commits no memory. Data must be private
// anonymous memory: the heap or mapped pixel buffers.
void ZeroFill(void* Data, size_t Size) noexcept;

// Sets the C library's heap up for a program that decodes big pictures on
// several threads: blocks from 256 KiB up are mapped on their own and
// unmapped when freed (the library would otherwise raise that threshold
// after the first big free and keep such blocks in its heaps), and at most
// two heaps per core. Call once, before other threads start.
void TuneHeapForPictures() noexcept;

// Hands the free memory of every heap of the C library back to the system
// (what a decode freed on a worker thread's heap stays there otherwise) once
// more than 32 MiB of it are free: trimming less costs the next paint more
// than it gives back.
void ReleaseFreeHeap() noexcept;
