// Development builds only (VELOCITRIX_PLACEMENT_PAD; the product has none):
// VX_PLACEMENT_PAD_BYTES bytes of .text that are never executed. Linked
// after the program's own objects and before the engine's libraries, it
// moves every function of the engine that is not pinned to a 64-byte
// boundary by that many bytes, as an unrelated change of size or link order
// would (scripts/placement-check.sh).

#define VX_PAD_TEXT_(bytes) #bytes
#define VX_PAD_TEXT(bytes) VX_PAD_TEXT_(bytes)

asm(".pushsection .text\n\t.skip " VX_PAD_TEXT(VX_PLACEMENT_PAD_BYTES) ", 0\n\t.popsection");
