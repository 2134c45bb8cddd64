#!/usr/bin/python3
"""Holds the till service's answers the tests recorded against docs/openapi.json.

    /usr/bin/python3 check_openapi.py DOCUMENT RECORD_DIR

RECORD_DIR holds the JSON lines tests/common/ServiceProcess.cpp writes when
SELVO_API_RECORD names it: one answer a line (method, target, status, the
headers below, body). The check fails, naming each fault, when

  - an example of the document does not validate against its schema, or a
    schema is not valid JSON Schema 2020-12;
  - an answer is not described: its path (exact, templated, or the
    document's x-unlisted-paths), method, status (or default), media type,
    body or headers (Allow, WWW-Authenticate and the CORS ones the answer
    carries, and those the document says are required);
  - a request the service took (answered 2xx) is one the document's request
    body refuses;
  - something the document lists (path, method, status) was never answered,
    unless ALLOWED_UNSEEN below says why tests cannot reach it.

Written for Debian 12's python3-jsonschema (4.10): Draft202012Validator with
RefResolver.from_schema(document).
"""

import collections
import json
import os
import re
import sys

import jsonschema

METHODS = ("get", "put", "post", "delete", "options", "head", "patch", "trace")
UNLISTED = "x-unlisted-paths"

# Answers the tests cannot bring about from outside the service, with why.
ALLOWED_UNSEEN = {
    ("/calc", "post", "500"): "the module failing a sale, or the system giving no random bytes for a sale_id",
    ("/payments", "get", "500"): "the module failing to list its payment types",
    ("/health", "get", "500"): "a handler throwing (memory running out): the front's last resort",
    ("/metrics", "get", "500"): "the same",
    ("/openapi.json", "get", "500"): "the same",
    ("/calc", "post", "503"): "the module's lists failing to fill again from rows it filled from before",
}

# Refusals the front gives before it looks at the path or the method (the
# headers' size, a Content-Length over the limit, a request it cannot read,
# a foreign Origin or Host): one code path for every operation, so seeing
# one of them answered on any operation shows it for all that list it.
FRONT_WIDE = {
    "#/components/responses/Unparsed",
    "#/components/responses/Forbidden",
    "#/components/responses/BodyTooLarge",
    "#/components/responses/HeaderTooLarge",
}

# Answer headers the recordings keep (besides Content-Type); one of these an
# answer carries must be described for it.
CHECKED_HEADERS = ("allow", "www-authenticate", "access-control-allow-origin", "access-control-allow-methods")


class Checker:
    def __init__(self, document):
        self.document = document
        self.resolver = jsonschema.RefResolver.from_schema(document)
        self.failures = collections.OrderedDict()  # reason -> [count, an example]
        self.seen = set()  # (path key, method, status key)
        self.seen_refs = set()
        self.validators = {}

    def fail(self, reason, example=""):
        entry = self.failures.setdefault(reason, [0, example])
        entry[0] += 1

    # --- the document ---------------------------------------------------

    def follow(self, node):
        """An OpenAPI object, its $ref followed (within this document)."""
        while isinstance(node, dict) and "$ref" in node:
            pointer = node["$ref"]
            if not pointer.startswith("#/"):
                raise ValueError("only references within the document are followed: " + pointer)
            node = self.document
            for part in pointer[2:].split("/"):
                node = node[part.replace("~1", "/").replace("~0", "~")]
        return node

    def errors(self, schema, value):
        key = id(schema)
        if key not in self.validators:
            self.validators[key] = jsonschema.Draft202012Validator(schema, resolver=self.resolver)
        return sorted(self.validators[key].iter_errors(value), key=lambda e: list(e.absolute_path))

    @staticmethod
    def schema_error_text(errors):
        first = errors[0]
        where = "/".join(str(p) for p in first.absolute_path) or "(the whole)"
        return "%s: %s" % (where, first.message[:300])

    @staticmethod
    def schema_fault(errors):
        """Where and which rule an instance breaks, without its value: the
        answers that break it alike are counted together."""
        first = errors[0]
        where = "/".join("[]" if isinstance(p, int) else str(p) for p in first.absolute_path) or "(the whole)"
        return "%s breaks %s" % (where, first.validator)

    def check_schemas(self):
        for name, schema in self.document.get("components", {}).get("schemas", {}).items():
            try:
                jsonschema.Draft202012Validator.check_schema(schema)
            except jsonschema.SchemaError as e:
                self.fail("schema %s is not valid JSON Schema 2020-12: %s" % (name, e.message))
                continue
            for i, example in enumerate(schema.get("examples", [])):
                errors = self.errors(schema, example)
                if errors:
                    self.fail("schema %s: example %d does not validate: %s" % (name, i, self.schema_error_text(errors)))

    def examples_of(self, node):
        if "example" in node:
            yield "example", node["example"]
        for name, example in node.get("examples", {}).items():
            example = self.follow(example)
            if "value" in example:
                yield name, example["value"]

    def check_examples(self):
        """Every example of a media type, parameter or header against its schema."""
        def walk(node, where):
            if isinstance(node, dict):
                if "schema" in node and ("example" in node or "examples" in node):
                    for name, value in self.examples_of(node):
                        errors = self.errors(node["schema"], value)
                        if errors:
                            self.fail("%s: example %s does not validate: %s" % (where, name,
                                                                              self.schema_error_text(errors)))
                for key, value in node.items():
                    if key not in ("schema", "examples", "example"):
                        walk(value, where + " " + key)
            elif isinstance(node, list):
                for i, value in enumerate(node):
                    walk(value, "%s %d" % (where, i))

        walk(self.document.get("paths", {}), "paths")
        walk(self.document.get(UNLISTED, {}), UNLISTED)
        for kind in ("responses", "headers", "parameters", "requestBodies"):
            walk(self.document.get("components", {}).get(kind, {}), "components " + kind)

    # --- the answers ----------------------------------------------------

    def path_key(self, path):
        paths = self.document.get("paths", {})
        if path in paths:
            return path
        for template in paths:
            if "{" in template:
                pattern = "^" + re.sub(r"\\\{[^/]+?\\\}", "[^/]+", re.escape(template)) + "$"
                if re.match(pattern, path):
                    return template
        return None

    def check_answer(self, answer):
        method = answer["method"].lower()
        target = answer["target"]
        path, _, query = target.partition("?")
        name = "%s %s -> %d" % (answer["method"], target[:80], answer["status"])
        key = self.path_key(path)
        if key is not None:
            item = self.follow(self.document["paths"][key])
            if method not in item:
                return self.fail("method %s of %s is not described" % (answer["method"], key), name)
            operation = item[method]
            self.check_query(operation, item, query, key, name)
        elif UNLISTED in self.document:
            key, method, operation = UNLISTED, "*", self.document[UNLISTED]
        else:
            return self.fail("path %s is not described" % path, name)

        status = str(answer["status"])
        responses = operation.get("responses", {})
        status_key = status if status in responses else status[0] + "XX"
        if status_key not in responses:
            status_key = "default"
        if status_key not in responses:
            return self.fail("%s %s: status %s is not described" % (method.upper(), key, status), name)
        self.seen.add((key, method, status_key))
        response = responses[status_key]
        if "$ref" in response:
            self.seen_refs.add(response["$ref"])
        response = self.follow(response)
        where = "%s %s %s" % (method.upper(), key, status_key)
        self.check_headers(response, answer["headers"], where, name)
        self.check_body(response, answer, where, name)
        if status.startswith("2") and "request_body" in answer and "requestBody" in operation:
            self.check_request(self.follow(operation["requestBody"]), answer, "%s %s" % (method.upper(), key), name)

    def check_request(self, request_body, answer, where, name):
        """A request the service took must be one its description takes."""
        media = answer.get("request_type", "").split(";")[0].strip().lower()
        content = request_body.get("content", {})
        if media not in content:
            return self.fail("%s: the service took a request of type %s, which is not described" % (where, media),
                             name)
        schema = content[media].get("schema")
        if schema is None:
            return
        try:
            value = json.loads(answer["request_body"]) if media.endswith("json") else answer["request_body"]
        except ValueError as e:
            return self.fail("%s: the service took a request body that is not JSON: %s" % (where, e), name)
        errors = self.errors(schema, value)
        if errors:
            self.fail("%s: the service took a request the described body refuses: %s" % (where,
                                                                                     self.schema_fault(errors)),
                      "%s: %s; request %s" % (name, self.schema_error_text(errors), answer["request_body"][:200]))

    def check_query(self, operation, item, query, key, name):
        declared = {}
        for parameter in item.get("parameters", []) + operation.get("parameters", []):
            parameter = self.follow(parameter)
            if parameter.get("in") == "query":
                declared[parameter["name"]] = parameter
        for pair in filter(None, query.split("&")):
            field, _, value = pair.partition("=")
            if field in declared and "schema" in declared[field]:
                errors = self.errors(declared[field]["schema"], value)
                if errors:
                    self.fail("%s: query %s=%s is not as described: %s" % (key, field, value,
                                                                          self.schema_error_text(errors)), name)

    def check_headers(self, response, headers, where, name):
        described = {k.lower(): self.follow(v) for k, v in response.get("headers", {}).items()}
        for header, description in described.items():
            if header not in headers:
                if description.get("required"):
                    self.fail("%s: header %s is missing" % (where, header), name)
                continue
            if "schema" in description:
                errors = self.errors(description["schema"], headers[header])
                if errors:
                    self.fail("%s: header %s: %s" % (where, header, self.schema_error_text(errors)), name)
        for header in CHECKED_HEADERS:
            if header in headers and header not in described:
                self.fail("%s: header %s is sent but not described" % (where, header), name)

    def check_body(self, response, answer, where, name):
        content = response.get("content")
        body = answer["body"]
        media = answer["headers"].get("content-type", "").split(";")[0].strip().lower()
        if not content:
            if body or media:
                self.fail("%s: a body (%s) is sent where none is described" % (where, media or "no type"), name)
            return
        if media not in content:
            return self.fail("%s: media type %s is not described" % (where, media or "(none)"), name)
        # An answer to HEAD carries no body the client reads.
        if answer["method"] == "HEAD":
            return
        schema = content[media].get("schema")
        if schema is None:
            return
        if media == "application/json" or media.endswith("+json"):
            try:
                value = json.loads(body)
            except ValueError as e:
                return self.fail("%s: the body is not JSON: %s" % (where, e), name)
        else:
            value = body
        errors = self.errors(schema, value)
        if errors:
            self.fail("%s: the body is not as described: %s" % (where, self.schema_fault(errors)),
                      "%s: %s; body %s" % (name, self.schema_error_text(errors), body[:200]))

    # --- what the document lists and nothing answered ---------------------

    def check_coverage(self):
        listed = []
        for key, item in self.document.get("paths", {}).items():
            item = self.follow(item)
            for method in METHODS:
                if method in item:
                    listed.extend((key, method, status, r) for status, r in item[method].get("responses", {}).items())
        for status, r in self.document.get(UNLISTED, {}).get("responses", {}).items():
            listed.append((UNLISTED, "*", status, r))
        for key, method, status, response in listed:
            if (key, method, status) in self.seen or (key, method, status) in ALLOWED_UNSEEN:
                continue
            if response.get("$ref") in FRONT_WIDE and response["$ref"] in self.seen_refs:
                continue
            self.fail("%s %s %s is described but no test got that answer" % (method.upper(), key, status))


def read_answers(folder):
    """The recorded answers, each distinct one once."""
    answers = collections.OrderedDict()
    if not os.path.isdir(folder):
        return []
    for file in sorted(os.listdir(folder)):
        if not file.endswith(".jsonl"):
            continue
        with open(os.path.join(folder, file), encoding="utf-8") as lines:
            for number, line in enumerate(lines, 1):
                try:
                    answer = json.loads(line)
                except ValueError:
                    raise SystemExit("%s:%d: not a JSON line" % (file, number))
                answers.setdefault(line, answer)
    return list(answers.values())


def main(argv):
    if len(argv) != 3:
        print(__doc__.strip().splitlines()[2].strip(), file=sys.stderr)
        return 2
    with open(argv[1], encoding="utf-8") as f:
        document = json.load(f)
    checker = Checker(document)
    if not str(document.get("openapi", "")).startswith("3.1."):
        checker.fail("the document is not OpenAPI 3.1")
    checker.check_schemas()
    checker.check_examples()
    answers = read_answers(argv[2])
    if not answers:
        checker.fail("no answers were recorded in %s (SELVO_API_RECORD)" % argv[2])
    for answer in answers:
        checker.check_answer(answer)
    checker.check_coverage()
    if checker.failures:
        print("%s does not describe the service as the tests found it:" % argv[1])
        for reason, (count, example) in checker.failures.items():
            print("  - %s%s" % (reason, " (%d answers)" % count if count > 1 else ""))
            if example:
                print("      e.g. %s" % example)
        return 1
    print("%s: %d distinct answers, %d operations' answers seen, every example valid" %
          (argv[1], len(answers), len(checker.seen)))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
