#!/usr/bin/python3
"""check_openapi.py on a small document and answers made up for it: each
fault it must find is found and named, and answers as described pass."""

import contextlib
import copy
import io
import json
import os
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import check_openapi  # noqa: E402

ERROR = {"type": "object", "required": ["error"], "properties": {"error": {"type": "string"}},
         "additionalProperties": False}
DOCUMENT = {
    "openapi": "3.1.0",
    "info": {"title": "t", "version": "1"},
    "paths": {
        "/things/{id}": {
            "get": {"responses": {
                "200": {"description": "a thing", "content": {"application/json": {
                    "schema": {"$ref": "#/components/schemas/Thing"},
                    "examples": {"one": {"value": {"n": 1}}}}}},
            }},
            "head": {"responses": {"405": {"$ref": "#/components/responses/NotAllowed"}}},
        },
        "/things": {
            "post": {
                "requestBody": {"content": {"application/json": {"schema": {"$ref": "#/components/schemas/Thing"}}}},
                "responses": {"201": {"description": "made"}},
            },
        },
    },
    "x-unlisted-paths": {"responses": {"404": {"description": "none", "content": {
        "application/json": {"schema": ERROR}}}}},
    "components": {
        "schemas": {"Thing": {"type": "object", "required": ["n"], "properties": {"n": {"type": "integer"}},
                              "additionalProperties": False}},
        "responses": {"NotAllowed": {"description": "GET only",
                                     "headers": {"Allow": {"required": True, "schema": {"const": "GET"}}},
                                     "content": {"application/json": {"schema": ERROR}}}},
    },
}
JSON = {"content-type": "application/json; charset=utf-8"}
ANSWERS = [
    {"method": "GET", "target": "/things/7", "status": 200, "headers": JSON, "body": '{"n": 7}'},
    # A HEAD answer's body is not read; its headers are.
    {"method": "HEAD", "target": "/things/7", "status": 405, "headers": {**JSON, "allow": "GET"}, "body": ""},
    {"method": "POST", "target": "/things", "status": 201, "headers": {}, "body": "",
     "request_type": "application/json", "request_body": '{"n": 1}'},
    {"method": "GET", "target": "/nowhere?x=1", "status": 404, "headers": JSON, "body": '{"error": "нет"}'},
]


def run(document, answers):
    """The check's exit code and report."""
    with tempfile.TemporaryDirectory() as folder:
        path = os.path.join(folder, "openapi.json")
        with open(path, "w", encoding="utf-8") as f:
            json.dump(document, f)
        records = os.path.join(folder, "answers")
        os.mkdir(records)
        with open(os.path.join(records, "answers-1.jsonl"), "w", encoding="utf-8") as f:
            for answer in answers:
                f.write(json.dumps(answer, ensure_ascii=False) + "\n")
        out = io.StringIO()
        with contextlib.redirect_stdout(out):
            code = check_openapi.main(["check_openapi.py", path, records])
        return code, out.getvalue()


def changed(answer_index, **fields):
    answers = copy.deepcopy(ANSWERS)
    answers[answer_index].update(fields)
    return answers


class CheckOpenApiTest(unittest.TestCase):
    def test_answers_as_described_pass(self):
        code, report = run(DOCUMENT, ANSWERS)
        self.assertEqual(code, 0, report)

    def test_each_fault_is_found_and_named(self):
        broken_example = copy.deepcopy(DOCUMENT)
        broken_example["paths"]["/things/{id}"]["get"]["responses"]["200"]["content"]["application/json"][
            "examples"]["one"]["value"] = {"n": "one"}
        cases = [
            ("a status not described", DOCUMENT, changed(0, status=500),
             "GET /things/{id}: status 500 is not described"),
            ("a body of another type", DOCUMENT, changed(0, body='{"n": "7"}'),
             "the body is not as described: n breaks type"),
            ("a body that is not JSON", DOCUMENT, changed(0, body="n=7"), "the body is not JSON"),
            ("a media type not described", DOCUMENT, changed(0, headers={"content-type": "text/plain"}),
             "media type text/plain is not described"),
            ("a required header missing", DOCUMENT, changed(1, headers=JSON), "header allow is missing"),
            ("a header of another value", DOCUMENT, changed(1, headers={**JSON, "allow": "POST"}), "header allow:"),
            ("a header sent but not described", DOCUMENT,
             changed(0, headers={**JSON, "www-authenticate": "Bearer"}), "header www-authenticate is sent"),
            ("a method not described", DOCUMENT, changed(0, method="PUT"),
             "method PUT of /things/{id} is not described"),
            ("a body where none is described", DOCUMENT, changed(2, body="{}", headers=JSON),
             "a body (application/json)"),
            ("a request taken that the description refuses", DOCUMENT, changed(2, request_body='{"n": 1, "m": 2}'),
             "the service took a request the described body refuses"),
            ("an answer listed that nobody got", DOCUMENT, ANSWERS[1:],
             "GET /things/{id} 200 is described but no test"),
            ("an example that does not fit", broken_example, ANSWERS, "example one does not validate"),
            ("no answers at all", DOCUMENT, [], "no answers were recorded"),
        ]
        for what, document, answers, named in cases:
            with self.subTest(what):
                code, report = run(document, answers)
                self.assertEqual(code, 1, report)
                self.assertIn(named, report)

    def test_an_answer_allowed_unseen_is_not_asked_for(self):
        document = copy.deepcopy(DOCUMENT)
        document["paths"]["/things"]["post"]["responses"]["503"] = {"description": "cannot"}
        self.assertEqual(run(document, ANSWERS)[0], 1)
        check_openapi.ALLOWED_UNSEEN[("/things", "post", "503")] = "made up for this test"
        try:
            code, report = run(document, ANSWERS)
        finally:
            del check_openapi.ALLOWED_UNSEEN[("/things", "post", "503")]
        self.assertEqual(code, 0, report)


if __name__ == "__main__":
    unittest.main()
