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
 * OX_OK, or an error code with *document left null.
 *
 * - **Passed:** the address of the library's document pointer, which is null.
 * - **Relied on:** `OX_OK` with a fresh, empty document in `*document`. Any
 *   other code makes `import` throw `pm_exception` with it, after calling
 *   `ox_xml_release` with whatever `*document` then holds: leave it null (or a
 *   handle that can be released) on failure. */
int ox_xml_create(ox_xml_s** document);

/* Parses the first `size` bytes of `buffer` (no final NUL needed) into
 * `document`, replacing any earlier tree. Returns OX_OK when the text is
 * well-formed XML; otherwise an error code (a parse error, out of memory, a
 * limit exceeded, or OX_ERROR_INVALID_ARGUMENT for a null document). Nothing
 * outside the buffer is ever read: no external entity, no DTD.
 *
 * - **Passed:** the document just created; the buffer and byte count exactly as
 *   the agent gave them to `import`. The buffer need not end with a NUL and may
 *   hold any bytes: it comes from outside the process.
 * - **Relied on:** `OX_OK` when the text is well-formed XML and is now the
 *   document's tree. Any other code makes `import` throw `pm_exception` with it
 *   (after releasing the document); nothing has been imported then. Read nothing
 *   outside the buffer (no external entity, no DTD fetched) and keep no pointer
 *   into it after returning. */
int ox_xml_load_from_buffer(ox_xml_s* document, const char* buffer, size_t size);

/* The top node of the document's tree (from which "specs" is reached by
 * path), or null for a null or empty document.
 *
 * - **Passed:** the loaded document.
 * - **Relied on:** the top node of the tree, *above* the document element:
 *   `ox_xml_node_search_by_path` from it with `"specs"` must reach the element
 *   `specs`. Null (for an empty document) makes the import find nothing. */
ox_xml_node_s* ox_xml_get_node(ox_xml_s* document);

/* Frees the document and all its nodes. `document` may be null.
 *
 * - **Passed:** the document, once per `import`, also after a failed create or
 *   load (then with whatever `ox_xml_create` left, or null); further calls with
 *   null may follow.
 * - **Relied on:** it frees the document with all its nodes and strings. The
 *   result is ignored. */
int ox_xml_release(ox_xml_s* document);

/* The first child element of `node` named `name`, or null. `node` may be
 * null. It must answer as the child walk below does (the first node that
 * ox_xml_node_get_first_child and ox_xml_node_get_next_sibling yield whose
 * ox_xml_node_get_name is `name`): the library finds the relation
 * containers of a software element in one such walk.
 *
 * - **Passed:** by the public relation parsers (`parse_provides` and the
 *   others), a `software` element and a container name: `"provides"`,
 *   `"uninstalls"`, `"obsoletes"`, `"depends"`, `"compatibles"`, `"conflicts"`.
 * - **Relied on:** the first child element of that name, or null when there is
 *   none; the library reads only the one returned. It must be the node that the
 *   child walk (`ox_xml_node_get_first_child`, `ox_xml_node_get_next_sibling`,
 *   `ox_xml_node_get_name`) reaches first with that name: `import` finds the
 *   containers of each `software` element with one such walk instead of a
 *   search per container. */
ox_xml_node_s* ox_xml_node_search(ox_xml_node_s* node, const char* name);

/* Follows element names joined by "/" from `node` ("specs/softwares"), each
 * step taking the first child element of that name; null when a step fails.
 * `node` may be null.
 *
 * - **Passed:** the top node from `ox_xml_get_node` (may be null) and
 *   `"specs"` or `"specs/softwares"`.
 * - **Relied on:** the element at that path of element names below the node,
 *   or null. Null for `"specs"` is fine (no version is read); null for
 *   `"specs/softwares"` ends the import with nothing imported. */
ox_xml_node_s* ox_xml_node_search_by_path(ox_xml_node_s* node, const char* path);

/* The first child of `node`, or null. `node` may be null.
 *
 * - **Passed:** the `softwares` element, or a relation container.
 * - **Relied on:** its first child node, or null when it has none. Whether
 *   comment, text and other non-element nodes appear in the walk is the host's
 *   choice, but every node the walk yields must have a name (see
 *   `ox_xml_node_get_name`). A node with any name and the right attributes
 *   counts as a relation (the children of the first five containers are matched
 *   by their attributes only), so a host that yields non-element nodes must
 *   give them no attributes. */
ox_xml_node_s* ox_xml_node_get_first_child(ox_xml_node_s* node);

/* The next node with the same parent, in document order, or null after the
 * last. `node` may be null.
 *
 * - **Passed:** a node the walk yielded.
 * - **Relied on:** the next node with the same parent, in document order, or
 *   null after the last. */
ox_xml_node_s* ox_xml_node_get_next_sibling(ox_xml_node_s* node);

/* The element name of `node`: a non-null string for every node the child walk
 * yields; null only for a null node.
 *
 * - **Passed:** a child of `softwares` (compared with `"software"`) or of
 *   `conflicts` (compared with `"registry"`).
 * - **Relied on:** the element name, a non-null string, for every node the child
 *   walk yields; borrowed from the document. A node whose name is null is
 *   skipped. */
const char* ox_xml_node_get_name(ox_xml_node_s* node);

/* The value of the attribute `name` of `node`, or null when the node has no
 * such attribute or `node` is null.
 *
 * - **Passed:** an element (or a null node, when the document has no `specs`
 *   element) and an attribute name.
 * - **Relied on:** the attribute's value, or null when the node has no such
 *   attribute or is null. An empty value is a present attribute. The value is
 *   used as is: expand entity and character references. It is borrowed from the
 *   document; the library copies it. */
const char* ox_xml_node_attribute_get(ox_xml_node_s* node, const char* name);

#ifdef __cplusplus
} /* extern "C" */
#endif

#endif /* TARVIK_OX_HOST_OX_XML_H_ */
