/** @file
  The C library's memory functions, which GCC emits calls to for structure
  copies and which the C++ standard headers call (string_view comparison uses
  memcmp). EDK II provides none of them for X64.
**/

#include <Uefi.h>
#include <Library/BaseMemoryLib.h>

typedef __SIZE_TYPE__ size_t;

void *memcpy (void *Destination, const void *Source, size_t Count);
void *memmove (void *Destination, const void *Source, size_t Count);
void *memset (void *Buffer, int Value, size_t Count);
int  memcmp (const void *Left, const void *Right, size_t Count);
void abort (void);

void *
memcpy (
  void        *Destination,
  const void  *Source,
  size_t      Count
  )
{
  return CopyMem (Destination, Source, Count);
}

void *
memmove (
  void        *Destination,
  const void  *Source,
  size_t      Count
  )
{
  // CopyMem handles overlapping buffers.
  return CopyMem (Destination, Source, Count);
}

void *
memset (
  void    *Buffer,
  int     Value,
  size_t  Count
  )
{
  return SetMem (Buffer, Count, (UINT8)Value);
}

int
memcmp (
  const void  *Left,
  const void  *Right,
  size_t      Count
  )
{
  INTN  Difference;

  Difference = CompareMem (Left, Right, Count);
  return (Difference > 0) - (Difference < 0);
}

/* Called by the C++ standard headers where a checked operation cannot go on
   (no exceptions here); stop where it happened. */
void
abort (
  void
  )
{
  __builtin_trap ();
}
