// Resource ids shared by the code and the resource script.
#pragma once

#define IDS_DESCRIPTION 1

#define IDI_SAVER 100
