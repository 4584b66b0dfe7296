/* Host XML library (host library libox_xml). See ox_host.h for the
 * conventions of the family. */
#ifndef TARVIK_OX_HOST_OX_XML_H_
#define TARVIK_OX_HOST_OX_XML_H_

#include "tarvik/ox/host/ox_host.h"

#ifdef __cplusplus
extern "C" {
#endif

/* A parsed document, and one node of it. Nodes belong to their document. */
typedef struct ox_xml_s ox_xml_s;
typedef struct ox_xml_node_s ox_xml_node_s;

/* Creates an empty document in *document (which must not be null). Returns
 * OX_OK, or an error code with *document left null. */
int ox_xml_create(ox_xml_s** document);

/* Parses the first `size` bytes of `buffer` (no final NUL needed) into
 * `document`, replacing any earlier tree. Returns OX_OK when the text is
 * well-formed XML; otherwise an error code (a parse error, out of memory, a
 * limit exceeded, or OX_ERROR_INVALID_ARGUMENT for a null document). Nothing
 * outside the buffer is ever read: no external entity, no DTD. */
int ox_xml_load_from_buffer(ox_xml_s* document, const char* buffer, size_t size);

/* The top node of the document's tree (from which "specs" is reached by
 * path), or null for a null or empty document. */
ox_xml_node_s* ox_xml_get_node(ox_xml_s* document);

/* Frees the document and all its nodes. `document` may be null. */
int ox_xml_release(ox_xml_s* document);

/* The first child element of `node` named `name`, or null. `node` may be
 * null. It must answer as the child walk below does (the first node that
 * ox_xml_node_get_first_child and ox_xml_node_get_next_sibling yield whose
 * ox_xml_node_get_name is `name`): the library finds the relation
 * containers of a software element in one such walk. */
ox_xml_node_s* ox_xml_node_search(ox_xml_node_s* node, const char* name);

/* Follows element names joined by "/" from `node` ("specs/softwares"), each
 * step taking the first child element of that name; null when a step fails.
 * `node` may be null. */
ox_xml_node_s* ox_xml_node_search_by_path(ox_xml_node_s* node, const char* path);

/* The first child of `node`, or null. `node` may be null. */
ox_xml_node_s* ox_xml_node_get_first_child(ox_xml_node_s* node);

/* The next node with the same parent, in document order, or null after the
 * last. `node` may be null. */
ox_xml_node_s* ox_xml_node_get_next_sibling(ox_xml_node_s* node);

/* The element name of `node`: a non-null string for every node the child walk
 * yields; null only for a null node. */
const char* ox_xml_node_get_name(ox_xml_node_s* node);

/* The value of the attribute `name` of `node`, or null when the node has no
 * such attribute or `node` is null. */
const char* ox_xml_node_attribute_get(ox_xml_node_s* node, const char* name);

#ifdef __cplusplus
} /* extern "C" */
#endif

#endif /* TARVIK_OX_HOST_OX_XML_H_ */
