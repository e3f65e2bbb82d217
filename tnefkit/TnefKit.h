#pragma once
// TnefKit: reads TNEF mail containers into message bodies and attachments.

#include "tnefkit/QFAttachment.h"
#include "tnefkit/QFAttrObject.h"
#include "tnefkit/QFMAPIAttrObject.h"
#include "tnefkit/QFMessageBody.h"
#include "tnefkit/QFModifyFlag.h"
#include "tnefkit/QFRTFParser.h"
#include "tnefkit/QFReadType.h"
#include "tnefkit/QFStringEncoding.h"
#include "tnefkit/QFTNEFFormat.h"
#include "tnefkit/export.h"

TNEFKIT_EXPORT extern const double TnefKitVersionNumber;
TNEFKIT_EXPORT extern const unsigned char TnefKitVersionString[];
