/* Resource numbers of the demo secondary setup, shared by its code and the resource compiler. */
#define IDI_KIVDEMO 101
#define IDD_KIVDEMO 200
#define IDC_KIVDEMO_TEXT 1000
