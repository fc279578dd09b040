// The glTF library's implementation, compiled into the program rather than loaded from a
// shared library at every start. Images are never decoded or encoded by the library: the
// exporter hands it finished PNG bytes, and the importer skips images (every user of the
// header is built without the image codecs).
#define TINYGLTF_IMPLEMENTATION
#include <tiny_gltf.h>
