// A shared object that loads like the skin library but exports neither of
// its calls: what a build with a broken or foreign skin library would carry.
extern "C" __attribute__((visibility("default"))) int SkinH_AttachResource(const unsigned char*, int) { return 0; }
