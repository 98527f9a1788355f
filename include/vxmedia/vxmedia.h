/* VxMedia: the whole exported C interface. */
#ifndef VXMEDIA_VXMEDIA_H
#define VXMEDIA_VXMEDIA_H

#include "vxtypes.h"
#include "avireader.h"
#include "aviwriter.h"
#include "avichunks.h"
#include "vxutil.h"
#include "vxformats.h"
#include "aviframes.h"

#endif
