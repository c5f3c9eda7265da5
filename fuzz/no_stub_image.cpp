// The fuzz builds of kivpack carry no stub image: the commands they run only read packages.
#include <stddef.h>

extern const unsigned char kStubImage[] = {0};
extern const size_t kStubImage_size = 0;
