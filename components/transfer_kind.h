#pragma once

// What a transfer is doing, for its status text.
enum TransferKind : int {
  TRANSFER_UNKNOWN = 0,
  TRANSFER_COPY = 1,
  TRANSFER_DOWNLOAD = 2,
};
