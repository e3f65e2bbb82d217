#pragma once
// Named ids of the TNEF stream: record levels, attribute ids and the MAPI property ids and
// flags the decoders act on.

#include <cstdint>

// The level of an attribute record: the message, or the attachment begun last.
inline constexpr std::int32_t QFTNEFLevelMessage = 1;
inline constexpr std::int32_t QFTNEFLevelAttachment = 2;

// TNEF attribute ids: the low word of a record's attribute.
inline constexpr std::int32_t QFTNEFAttributeOwner = 0x0000;
inline constexpr std::int32_t QFTNEFAttributeSentFor = 0x0001;
inline constexpr std::int32_t QFTNEFAttributeDelegate = 0x0002;
inline constexpr std::int32_t QFTNEFAttributeDateStart = 0x0006;
inline constexpr std::int32_t QFTNEFAttributeDateEnd = 0x0007;
inline constexpr std::int32_t QFTNEFAttributeOwnerAppointmentID = 0x0008;
inline constexpr std::int32_t QFTNEFAttributeResponseRequested = 0x0009;
inline constexpr std::int32_t QFTNEFAttributeFrom = 0x8000;
inline constexpr std::int32_t QFTNEFAttributeSubject = 0x8004;
inline constexpr std::int32_t QFTNEFAttributeDateSent = 0x8005;
inline constexpr std::int32_t QFTNEFAttributeDateReceived = 0x8006;
inline constexpr std::int32_t QFTNEFAttributeMessageStatus = 0x8007;
inline constexpr std::int32_t QFTNEFAttributeMessageClass = 0x8008;
inline constexpr std::int32_t QFTNEFAttributeMessageID = 0x8009;
inline constexpr std::int32_t QFTNEFAttributeParentID = 0x800A;
inline constexpr std::int32_t QFTNEFAttributeConversationID = 0x800B;
inline constexpr std::int32_t QFTNEFAttributeBody = 0x800C;
inline constexpr std::int32_t QFTNEFAttributePriority = 0x800D;
inline constexpr std::int32_t QFTNEFAttributeAttachmentData = 0x800F;
inline constexpr std::int32_t QFTNEFAttributeAttachmentFileName = 0x8010;
inline constexpr std::int32_t QFTNEFAttributeAttachmentMetaFile = 0x8011;
inline constexpr std::int32_t QFTNEFAttributeAttachmentCreationDate = 0x8012;
inline constexpr std::int32_t QFTNEFAttributeAttachmentModificationDate = 0x8013;
inline constexpr std::int32_t QFTNEFAttributeDateModified = 0x8020;
inline constexpr std::int32_t QFTNEFAttributeAttachmentTransportFilename = 0x9001;
inline constexpr std::int32_t QFTNEFAttributeAttachmentRenderingData = 0x9002;
inline constexpr std::int32_t QFTNEFAttributeMAPIProperties = 0x9003;
inline constexpr std::int32_t QFTNEFAttributeRecipients = 0x9004;
inline constexpr std::int32_t QFTNEFAttributeAttachment = 0x9005;
inline constexpr std::int32_t QFTNEFAttributeTNEFVersion = 0x9006;
inline constexpr std::int32_t QFTNEFAttributeOEMCodepage = 0x9007;
inline constexpr std::int32_t QFTNEFAttributeOriginalMessageClass = 0x9008;

// MAPI property ids (the high word of a property tag) that the decoders take values from.
inline constexpr std::int32_t QFMAPINameTypeRTF_COMPRESSED = 0x1009;
inline constexpr std::int32_t QFMAPINameTypeBODY_HTML = 0x1013;
inline constexpr std::int32_t QFMAPINameTypeCREATION_TIME = 0x3007;
inline constexpr std::int32_t QFMAPINameTypeLAST_MODIFICATION_TIME = 0x3008;
inline constexpr std::int32_t QFMAPINameTypeATTACH_DATA_OBJ = 0x3701;
inline constexpr std::int32_t QFMAPINameTypeATTACH_LONG_FILENAME = 0x3707;
inline constexpr std::int32_t QFMAPINameTypeATTACH_MIME_TAG = 0x370E;
inline constexpr std::int32_t QFMAPINameTypeATTACH_CONTENT_ID = 0x3712;

// The flag of a multi-valued property type, and the id bit of a named property.
inline constexpr std::int32_t QFMAPIMultiValueFlag = 0x1000;
inline constexpr std::int32_t QFMAPINamedPropertyFlag = 0x8000;
