package com.corvane.qel.deployer.modburn.tool;

import static org.junit.Assert.assertEquals;
import static org.junit.Assert.assertTrue;
import static org.junit.Assert.fail;

import java.math.BigDecimal;
import java.util.Arrays;
import java.util.List;
import org.junit.Test;

public class JsonReaderTest {
    @Test
    public void readsValues() throws Exception {
        Object[][] cases = {
            {"\"a\\\"b\\\\c\\/\\n\\t\\u00e9\"", "a\"b\\c/\n\t\u00e9"},
            {" true ", Boolean.TRUE}, {"false", Boolean.FALSE}, {"null", null},
            {"-12", new BigDecimal("-12")}, {"0.5e3", new BigDecimal("0.5e3")}, {"0", BigDecimal.ZERO},
            {"[]", List.of()}, {"[1, \"x\"]", Arrays.asList(BigDecimal.ONE, "x")},
            {"\uFEFF\"bom\"", "bom"},
        };
        for (Object[] c : cases) {
            assertEquals((String) c[0], c[1], JsonReader.parse((String) c[0]));
        }
    }

    @Test
    public void remembersTheLinesOfObjectsAndKeys() throws Exception {
        String text = "[\n  {\"a\": 1,\n   \"b\": {\"c\": \"x\"}},\n\n  {}\n]";
        List<?> list = (List<?>) JsonReader.parse(text);
        JsonReader.JsonObject first = (JsonReader.JsonObject) list.get(0);
        JsonReader.JsonObject second = (JsonReader.JsonObject) list.get(1);
        assertEquals(2, first.line);
        assertEquals(2, first.lineOf("a"));
        assertEquals(3, first.lineOf("b"));
        assertEquals(2, first.lineOf("missing"));
        assertEquals(5, second.line);
        assertEquals("x", ((JsonReader.JsonObject) first.get("b")).get("c"));
    }

    @Test
    public void reportsErrorsWithLineAndColumn() {
        String[][] cases = {
            {"", "line 1, column 1: unexpected end"},
            {"[1,\n 2,\n ]", "line 3, column 2: unexpected character ']'"},
            {"{\"a\" 1}", "line 1, column 6: ':' was expected"},
            {"{\"a\": 1 \"b\": 2}", "',' or '}' was expected"},
            {"{\"a\": 1, \"a\": 2}", "appears twice"},
            {"[1 2]", "',' or ']' was expected"},
            {"\"abc", "unterminated string"},
            {"\"a\nb\"", "control character"},
            {"\"\\x\"", "unknown escape"},
            {"\"\\u12\"", "four hexadecimal digits"},
            {"01", "unexpected text after"},
            {"1.", "digit was expected after '.'"},
            {"-", "a digit was expected"},
            {"tru", "unexpected word"},
            {"{} {}", "unexpected text after"},
            {"[".repeat(300), "nested deeper"},
            {"{a: 1}", "member name in double quotes"},
        };
        for (String[] c : cases) {
            try {
                JsonReader.parse(c[0]);
                fail("parsed: " + c[0]);
            } catch (JsonReader.JsonException e) {
                assertTrue(c[0] + " gave " + e.getMessage(), e.getMessage().contains(c[1]));
            }
        }
    }
}
