/** @file
  A simulated ME behind the HECI protocol {3C7BC880-41F8-4869-AEFC-870A3ED28299},
  for end-to-end tests of NAVO's HECI read method in QEMU.

  The protocol begins with four EFIAPI functions: an unused one, ReadMsg,
  SendMsg and ResetHeci. Device 0 is the only device. The ME:
    - answers the bus messages at host and ME address 0: enumeration (0x04 ->
      0x84 with the address map), client properties (0x05 -> 0x85), connect
      (0x06 -> 0x86, then one flow-control credit), disconnect (0x07 -> 0x87);
      flow control from the host (0x08) grants a credit for one message;
    - lists three clients: {309DCDE8-...} at address 2, the MKHI client
      {8E6A6715-9ABC-4043-88EF-9E39C6F63E0F} at address 7, {DD17041C-...} at 9;
    - answers the MKHI image-version request (header 0x00001CFF, 8 bytes) on
      a connected client that holds a credit with result, record count 1 and
      one 88-byte record, followed by a flow-control credit.
  A read with nothing to deliver returns EFI_TIMEOUT at once.

  The version is 12.0.64.1551 (or the SIM_ME_VERSION_* build defines). A test
  can change it at run time with the volatile or non-volatile variable
  "SimMeVersion" of vendor {A3F0C2D4-5B6E-4F71-8C9D-0E1F2A3B4C5D}: 8 bytes,
  Major, Minor, HotFix, Build as little-endian 16-bit values, optionally a
  ninth byte with the result code to answer (0x81: the ME refuses).
**/

#include <Uefi.h>
#include <Library/BaseMemoryLib.h>
#include <Library/UefiBootServicesTableLib.h>
#include <Library/UefiRuntimeServicesTableLib.h>

#ifndef SIM_ME_VERSION_MAJOR
#define SIM_ME_VERSION_MAJOR   12
#endif
#ifndef SIM_ME_VERSION_MINOR
#define SIM_ME_VERSION_MINOR   0
#endif
#ifndef SIM_ME_VERSION_HOTFIX
#define SIM_ME_VERSION_HOTFIX  64
#endif
#ifndef SIM_ME_VERSION_BUILD
#define SIM_ME_VERSION_BUILD   1551
#endif

#define HBM_ENUMERATE         0x04
#define HBM_PROPERTIES        0x05
#define HBM_CONNECT           0x06
#define HBM_DISCONNECT        0x07
#define HBM_FLOW_CONTROL      0x08
#define HBM_RESPONSE          0x80
#define MKHI_VERSION_REQUEST  0x00001CFF
#define RECORD_BYTES          88
#define QUEUE_SLOTS           8
#define SLOT_BYTES            128

typedef
EFI_STATUS
(EFIAPI *SIM_ME_UNUSED)(
  VOID
  );

typedef
EFI_STATUS
(EFIAPI *SIM_ME_READ_MESSAGE)(
  IN     UINT32  Device,
  IN     UINT32  Blocking,
  IN     UINT32  *Buffer,
  IN OUT UINT32  *Length
  );

typedef
EFI_STATUS
(EFIAPI *SIM_ME_SEND_MESSAGE)(
  IN UINT32  Device,
  IN UINT32  *Message,
  IN UINT32  Length,
  IN UINT8   HostAddress,
  IN UINT8   MeAddress
  );

typedef
EFI_STATUS
(EFIAPI *SIM_ME_RESET)(
  IN UINT32  Device
  );

typedef struct {
  SIM_ME_UNUSED          Unused;
  SIM_ME_READ_MESSAGE    ReadMsg;
  SIM_ME_SEND_MESSAGE    SendMsg;
  SIM_ME_RESET           ResetHeci;
} SIM_ME_HECI_PROTOCOL;

typedef struct {
  EFI_GUID    Guid;
  UINT8       Address;
  UINT8       ProtocolVersion;
  UINT8       MaxConnections;
  UINT8       FixedAddress;
  UINT32      MaxMessageLength;
} SIM_ME_CLIENT;

typedef struct {
  UINT32    Length;
  UINT8     Bytes[SLOT_BYTES];
} SIM_ME_MESSAGE;

STATIC EFI_GUID  mHeciProtocolGuid = {
  0x3C7BC880, 0x41F8, 0x4869, { 0xAE, 0xFC, 0x87, 0x0A, 0x3E, 0xD2, 0x82, 0x99 }
};

STATIC EFI_GUID  mSimMeVendorGuid = {
  0xA3F0C2D4, 0x5B6E, 0x4F71, { 0x8C, 0x9D, 0x0E, 0x1F, 0x2A, 0x3B, 0x4C, 0x5D }
};

STATIC CONST EFI_GUID  mMkhiGuid = {
  0x8E6A6715, 0x9ABC, 0x4043, { 0x88, 0xEF, 0x9E, 0x39, 0xC6, 0xF6, 0x3E, 0x0F }
};

STATIC CONST SIM_ME_CLIENT  mClients[] = {
  { { 0x309DCDE8, 0xCCB1, 0x4062, { 0x8F, 0x78, 0x60, 0x01, 0x15, 0xA3, 0x43, 0x27 } }, 2, 1, 1, 0, 512 },
  { { 0x8E6A6715, 0x9ABC, 0x4043, { 0x88, 0xEF, 0x9E, 0x39, 0xC6, 0xF6, 0x3E, 0x0F } }, 7, 1, 1, 0, 512 },
  { { 0xDD17041C, 0x09EA, 0x4B17, { 0xA2, 0x71, 0x5B, 0x98, 0x98, 0x67, 0xEC, 0x65 } }, 9, 1, 1, 0, 512 },
};

STATIC SIM_ME_MESSAGE  mQueue[QUEUE_SLOTS];
STATIC UINTN           mQueueHead;
STATIC UINTN           mQueueCount;
STATIC BOOLEAN         mConnected[256];
STATIC UINT32          mCredits[256];

/**
  Puts a message for the host at the end of the queue; a full queue drops it,
  as an ME whose host never reads would.
**/
STATIC
VOID
QueueMessage (
  IN CONST UINT8  *Bytes,
  IN UINT32       Length
  )
{
  SIM_ME_MESSAGE  *Slot;

  if ((mQueueCount == QUEUE_SLOTS) || (Length > SLOT_BYTES)) {
    return;
  }

  Slot         = &mQueue[(mQueueHead + mQueueCount) % QUEUE_SLOTS];
  Slot->Length = Length;
  CopyMem (Slot->Bytes, Bytes, Length);
  mQueueCount++;
}

STATIC
VOID
QueueCredit (
  IN UINT8  MeAddress,
  IN UINT8  HostAddress
  )
{
  UINT8  Credit[8];

  ZeroMem (Credit, sizeof (Credit));
  Credit[0] = HBM_FLOW_CONTROL;
  Credit[1] = MeAddress;
  Credit[2] = HostAddress;
  QueueMessage (Credit, sizeof (Credit));
}

STATIC
CONST SIM_ME_CLIENT *
ClientAt (
  IN UINT8  Address
  )
{
  UINTN  Index;

  for (Index = 0; Index < ARRAY_SIZE (mClients); Index++) {
    if (mClients[Index].Address == Address) {
      return &mClients[Index];
    }
  }

  return NULL;
}

STATIC
VOID
AnswerProperties (
  IN UINT8  Address
  )
{
  UINT8                Response[28];
  CONST SIM_ME_CLIENT  *Client;

  ZeroMem (Response, sizeof (Response));
  Response[0] = HBM_PROPERTIES | HBM_RESPONSE;
  Response[1] = Address;
  Client      = ClientAt (Address);
  if (Client == NULL) {
    Response[2] = 1;    // no client at this address
  } else {
    CopyMem (&Response[4], &Client->Guid, sizeof (EFI_GUID));
    Response[20] = Client->ProtocolVersion;
    Response[21] = Client->MaxConnections;
    Response[22] = Client->FixedAddress;
    Response[23] = 0;
    CopyMem (&Response[24], &Client->MaxMessageLength, sizeof (UINT32));
  }

  QueueMessage (Response, sizeof (Response));
}

STATIC
VOID
OnBusMessage (
  IN CONST UINT8  *Bytes,
  IN UINT32       Length
  )
{
  UINT8                Response[36];
  UINT8                Address;
  UINT8                Host;
  UINTN                Index;
  CONST SIM_ME_CLIENT  *Client;

  Address = (Length > 1) ? Bytes[1] : 0;
  Host    = (Length > 2) ? Bytes[2] : 0;
  ZeroMem (Response, sizeof (Response));

  switch (Bytes[0]) {
    case HBM_ENUMERATE:
      Response[0] = HBM_ENUMERATE | HBM_RESPONSE;
      for (Index = 0; Index < ARRAY_SIZE (mClients); Index++) {
        Response[4 + mClients[Index].Address / 8] |= (UINT8)(1 << (mClients[Index].Address % 8));
      }

      QueueMessage (Response, 36);
      break;

    case HBM_PROPERTIES:
      AnswerProperties (Address);
      break;

    case HBM_CONNECT:
      Client      = ClientAt (Address);
      Response[0] = HBM_CONNECT | HBM_RESPONSE;
      Response[1] = Address;
      Response[2] = Host;
      Response[3] = (Client == NULL || Client->FixedAddress != 0) ? 1 : 0;
      QueueMessage (Response, 4);
      if (Response[3] == 0) {
        mConnected[Address] = TRUE;
        mCredits[Address]   = 0;
        QueueCredit (Address, Host);
      }

      break;

    case HBM_DISCONNECT:
      mConnected[Address] = FALSE;
      Response[0]         = HBM_DISCONNECT | HBM_RESPONSE;
      Response[1]         = Address;
      Response[2]         = Host;
      QueueMessage (Response, 4);
      break;

    case HBM_FLOW_CONTROL:
      mCredits[Address]++;
      break;

    default:
      break;
  }
}

/**
  The version to report and the result code to answer with: the build's
  defaults unless the SimMeVersion variable holds others.
**/
STATIC
VOID
CurrentVersion (
  OUT UINT16  Version[4],
  OUT UINT8   *Result
  )
{
  UINT8       Data[9];
  UINTN       Size;
  EFI_STATUS  Status;

  Version[0] = SIM_ME_VERSION_MAJOR;
  Version[1] = SIM_ME_VERSION_MINOR;
  Version[2] = SIM_ME_VERSION_HOTFIX;
  Version[3] = SIM_ME_VERSION_BUILD;
  *Result    = 0;

  Size   = sizeof (Data);
  Status = gRT->GetVariable (L"SimMeVersion", &mSimMeVendorGuid, NULL, &Size, Data);
  if (EFI_ERROR (Status) || (Size < 8)) {
    return;
  }

  CopyMem (Version, Data, 8);
  if (Size >= 9) {
    *Result = Data[8];
  }
}

STATIC
VOID
AnswerVersionRequest (
  IN UINT8  MeAddress,
  IN UINT8  HostAddress
  )
{
  UINT8   Reply[8 + RECORD_BYTES];
  UINT16  Version[4];
  UINT8   Result;
  UINTN   Index;

  CurrentVersion (Version, &Result);
  for (Index = 0; Index < sizeof (Reply); Index++) {
    Reply[Index] = (UINT8)(0xA0 + Index);
  }

  Reply[0] = 0xFF;
  Reply[1] = 0x1C | 0x80;
  Reply[2] = 0;
  Reply[3] = Result;
  Reply[4] = 1;
  Reply[5] = 0;
  Reply[6] = 0;
  Reply[7] = 0;
  CopyMem (&Reply[8 + 12], Version, sizeof (Version));
  QueueMessage (Reply, sizeof (Reply));
  QueueCredit (MeAddress, HostAddress);
}

STATIC
EFI_STATUS
EFIAPI
SimMeUnused (
  VOID
  )
{
  return EFI_UNSUPPORTED;
}

STATIC
EFI_STATUS
EFIAPI
SimMeReadMsg (
  IN     UINT32  Device,
  IN     UINT32  Blocking,
  IN     UINT32  *Buffer,
  IN OUT UINT32  *Length
  )
{
  SIM_ME_MESSAGE  *Slot;

  if ((Buffer == NULL) || (Length == NULL)) {
    return EFI_INVALID_PARAMETER;
  }

  if (Device != 0) {
    return EFI_DEVICE_ERROR;
  }

  if (mQueueCount == 0) {
    *Length = 0;
    return EFI_TIMEOUT;
  }

  Slot        = &mQueue[mQueueHead];
  mQueueHead  = (mQueueHead + 1) % QUEUE_SLOTS;
  mQueueCount--;
  if (Slot->Length > *Length) {
    return EFI_BUFFER_TOO_SMALL;
  }

  CopyMem (Buffer, Slot->Bytes, Slot->Length);
  *Length = Slot->Length;
  return EFI_SUCCESS;
}

STATIC
EFI_STATUS
EFIAPI
SimMeSendMsg (
  IN UINT32  Device,
  IN UINT32  *Message,
  IN UINT32  Length,
  IN UINT8   HostAddress,
  IN UINT8   MeAddress
  )
{
  CONST UINT8          *Bytes;
  CONST SIM_ME_CLIENT  *Client;
  UINT32               Header;

  if ((Message == NULL) || (Length == 0)) {
    return EFI_INVALID_PARAMETER;
  }

  if (Device != 0) {
    return EFI_DEVICE_ERROR;
  }

  Bytes = (CONST UINT8 *)Message;
  if ((HostAddress == 0) && (MeAddress == 0)) {
    OnBusMessage (Bytes, Length);
    return EFI_SUCCESS;
  }

  // A client message needs a connection and a credit from the host; without
  // them the ME ignores it and the host's read times out.
  Client = ClientAt (MeAddress);
  if ((Client == NULL) || !mConnected[MeAddress] || (mCredits[MeAddress] == 0)) {
    return EFI_SUCCESS;
  }

  mCredits[MeAddress]--;
  if (Length > Client->MaxMessageLength) {
    return EFI_SUCCESS;
  }

  CopyMem (&Header, Bytes, sizeof (Header));
  if (CompareGuid (&Client->Guid, &mMkhiGuid) && (Length == 8) && (Header == MKHI_VERSION_REQUEST)) {
    AnswerVersionRequest (MeAddress, HostAddress);
  }

  return EFI_SUCCESS;
}

STATIC
EFI_STATUS
EFIAPI
SimMeReset (
  IN UINT32  Device
  )
{
  if (Device != 0) {
    return EFI_DEVICE_ERROR;
  }

  mQueueHead  = 0;
  mQueueCount = 0;
  ZeroMem (mConnected, sizeof (mConnected));
  ZeroMem (mCredits, sizeof (mCredits));
  return EFI_SUCCESS;
}

STATIC SIM_ME_HECI_PROTOCOL  mHeci = {
  SimMeUnused,
  SimMeReadMsg,
  SimMeSendMsg,
  SimMeReset
};

EFI_STATUS
EFIAPI
SimMeEntryPoint (
  IN EFI_HANDLE        ImageHandle,
  IN EFI_SYSTEM_TABLE  *SystemTable
  )
{
  EFI_HANDLE  Handle;

  Handle = NULL;
  return gBS->InstallMultipleProtocolInterfaces (&Handle, &mHeciProtocolGuid, &mHeci, NULL);
}
