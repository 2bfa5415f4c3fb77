// The commented template that -c writes: pure ASCII, 120 lines ended by CR LF.
#ifndef BRONTEL_CONFIG_SKELETON_TEMPLATE_H
#define BRONTEL_CONFIG_SKELETON_TEMPLATE_H

// A new text (free() it) with the build date in its first line; null when out of memory.
char* buildSkeletonText();

#endif
