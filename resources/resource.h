/* Resource numbers, shared by the code and the resource compiler. */
#define IDI_SETUP 101
#define IDD_PREPARING 102
#define IDC_PREPARING_TEXT 1000
