#pragma once
// TnefKit: reads TNEF mail containers into message bodies and attachments. This header and
// the ones it includes are the library's whole public interface.

#include "tnefkit/QFAttachment.h"
#include "tnefkit/QFDate.h"
#include "tnefkit/QFMessageBody.h"
#include "tnefkit/QFReadType.h"
#include "tnefkit/QFTNEFFormat.h"
#include "tnefkit/export.h"

TNEFKIT_EXPORT extern const double TnefKitVersionNumber;
TNEFKIT_EXPORT extern const unsigned char TnefKitVersionString[];
