#pragma once

// Ids shared by the resource script and the code.
#define IDR_DEPLOY_CONFIG 102
#define IDI_LAUNCHER 104
#define IDR_CLIENT_CONFIG 103

// The English texts; the block of another language starts at its offset.
#define IDS_FIRST 201
#define IDS_LAST 244
