// Resource ids shared by the code and the resource script.
#pragma once

#define IDS_DESCRIPTION 1

#define IDI_SAVER 100

#define IDD_ABOUT 2003
#define IDC_ABOUT_TEST 1000
#define IDC_ABOUT_TEXT 1002

// The application manifest: resource type 24, id 1 for an executable.
#define IDR_MANIFEST 1
#define RESOURCE_TYPE_MANIFEST 24
