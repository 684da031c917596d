#pragma once
#define IDI_MAINICON 1
