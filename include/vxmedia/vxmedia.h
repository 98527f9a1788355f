/* VxMedia: the whole exported C interface. */
#ifndef VXMEDIA_VXMEDIA_H
#define VXMEDIA_VXMEDIA_H

#include "avichunks.h"
#include "aviframes.h"
#include "avireader.h"
#include "aviwriter.h"
#include "vxcodecmgr.h"
#include "vxcodecs.h"
#include "vxformats.h"
#include "vxtypes.h"
#include "vxutil.h"

#endif
