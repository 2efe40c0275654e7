sample table definition
